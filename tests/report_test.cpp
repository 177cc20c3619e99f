// The report protocol byte for byte, and the blocking single-report write
// against every write behaviour of the simulated device.
#include <chrono>
#include <cstring>

#include "io/reports.h"
#include "io/sync_write.h"
#include "sim_fixture.h"
#include "standalone_link.h"

using namespace ombrix;
using namespace ombrix_test;

namespace {

Bytes Payload(const uint8_t* payload) { return Bytes(payload, payload + kPayloadBytes); }

Bytes ExpectedPayload(std::initializer_list<uint8_t> leading) {
  Bytes payload(kPayloadBytes, 0);
  size_t i = 0;
  for (uint8_t byte : leading) payload[i++] = byte;
  return payload;
}

TEST(ReportEncodingTest, EveryOutputKindOnTheWire) {
  uint8_t payload[kPayloadBytes];
  std::memset(payload, 0xCC, sizeof payload);  // builders must clear what they do not use
  BuildSetModeReport(payload, 7);
  EXPECT_EQ(Payload(payload), ExpectedPayload({0x10, 0x07}));

  std::memset(payload, 0xCC, sizeof payload);
  BuildStoreConfigReport(payload);
  EXPECT_EQ(Payload(payload), ExpectedPayload({0x12, 0x01}));

  // 300 travels as its low byte; the length is always 512, the last byte 0.
  std::memset(payload, 0xCC, sizeof payload);
  BuildAdvTxConfigReport(payload, 1, 300, 20, 3, 4);
  EXPECT_EQ(Payload(payload),
            ExpectedPayload({0x11, 0x01, 0x2C, 0x00, 0x14, 0x00, 0x03, 0x00, 0x04, 0x00, 0x00, 0x02, 0x00}));

  uint8_t block[kBlockBytes];
  for (int i = 0; i < kBlockBytes; ++i) block[i] = static_cast<uint8_t>(100 + i);
  BuildDmxBlockReport(payload, 0x2F, block);
  EXPECT_EQ(payload[0], 0x2F);
  EXPECT_EQ(std::memcmp(payload + 1, block, kBlockBytes), 0);

  uint8_t report[kReportBytes];
  std::memset(report, 0xCC, sizeof report);
  BuildSetModeReport(payload, 0);
  FrameReport(report, payload);
  EXPECT_EQ(Bytes(report, report + kReportBytes), Report({0x10, 0x00}));
}

TEST(ReportEncodingTest, FrameVariantOnlyForQueuedBlocksOnNewerProducts) {
  Link link;
  link.vendorId = 0x16D0;
  const uint16_t frameProducts[] = {0x0832, 0x0833};
  const uint16_t plainProducts[] = {0x0754, 0x0830};
  for (uint16_t product : frameProducts) {
    link.productId = product;
    EXPECT_EQ(BlockReportType(link, 0, true), 0x20);
    EXPECT_EQ(BlockReportType(link, 15, true), 0x2F);
    EXPECT_EQ(BlockReportType(link, 15, false), 0x0F);
  }
  for (uint16_t product : plainProducts) {
    link.productId = product;
    EXPECT_EQ(BlockReportType(link, 15, true), 0x0F);
  }
}

TEST(ReportDecodingTest, InputBlocksLandInTheInputBuffer) {
  Link link;
  uint8_t input[kUniverseBytes] = {};
  link.inputUniverse = input;
  Bytes report = InputBlock(0x0F, 1);
  Decoded decoded = DecodeReport(link, report.data(), kReportBytes);
  EXPECT_EQ(decoded.kind, Received::kInputBlock);
  EXPECT_EQ(decoded.block, 15);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(input[480 + i], 1 + i);
  for (int i = 0; i < 480; ++i) ASSERT_EQ(input[i], 0);

  // A short report changes nothing, whatever it holds.
  Bytes shortReport = InputBlock(0x00, 9);
  EXPECT_EQ(DecodeReport(link, shortReport.data(), 33).kind, Received::kNothing);
  EXPECT_EQ(DecodeReport(link, shortReport.data(), 0).kind, Received::kNothing);
  EXPECT_EQ(input[0], 0);

  // Without an input buffer a block is dropped.
  link.inputUniverse = nullptr;
  EXPECT_EQ(DecodeReport(link, report.data(), kReportBytes).kind, Received::kNothing);
}

TEST(ReportDecodingTest, ReadbackFillsTheCacheAndOtherTypesAreIgnored) {
  Link link;
  Bytes readback = Report({0x11, 0x07, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x00, 0x02, 0xFF});
  EXPECT_EQ(DecodeReport(link, readback.data(), kReportBytes).kind, Received::kConfigReadback);
  EXPECT_EQ(link.cfgByte, 7);
  EXPECT_EQ(link.cfgParam1, 513);
  EXPECT_EQ(link.cfgParam2, 0x0403);
  EXPECT_EQ(link.cfgParam3, 0x0605);
  EXPECT_EQ(link.cfgParam4, 0x0807);
  EXPECT_EQ(link.cfgLength, 512);
  EXPECT_EQ(link.cfgLastByte, 255);

  Bytes heartbeat = Report({0x55});
  EXPECT_EQ(DecodeReport(link, heartbeat.data(), kReportBytes).kind, Received::kHeartbeat);

  uint8_t input[kUniverseBytes] = {};
  link.inputUniverse = input;
  for (uint8_t type : {0x10, 0x12, 0x20, 0x2F, 0x54, 0xFF}) {
    Bytes other = Report({type, 0x77});
    EXPECT_EQ(DecodeReport(link, other.data(), kReportBytes).kind, Received::kNothing) << int(type);
  }
  for (uint8_t byte : input) ASSERT_EQ(byte, 0);
}

class SyncWriteTest : public SimTest {};

TEST_F(SyncWriteTest, ResultsForEveryWriteBehaviour) {
  int32_t device = AddFamilyDevice(0x0832, 0x0100, "SYNCWRITE0000001");
  StandaloneLink link(0);
  ASSERT_NE(link->device, nullptr);
  uint8_t payload[kPayloadBytes];
  BuildSetModeReport(payload, 0);

  EXPECT_EQ(SyncWriteReport(link.get(), payload, kPayloadBytes, 100), 33);
  auto writes = Writes(device);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0], Report({0x10, 0x00}));

  OmbrixSimSetWriteBehaviour(device, OMBRIX_SIM_WRITE_COMPLETE, 5000);
  EXPECT_EQ(SyncWriteReport(link.get(), payload, kPayloadBytes, 1000), 33);

  OmbrixSimSetWriteBehaviour(device, OMBRIX_SIM_WRITE_ZERO_BYTES, 0);
  EXPECT_EQ(SyncWriteReport(link.get(), payload, kPayloadBytes, 100), -1);
  OmbrixSimSetWriteBehaviour(device, OMBRIX_SIM_WRITE_FAIL, 0);
  EXPECT_EQ(SyncWriteReport(link.get(), payload, kPayloadBytes, 100), -1);
  OmbrixSimSetWriteBehaviour(device, OMBRIX_SIM_WRITE_REFUSE, 0);
  uint32_t before = OmbrixSimWriteCount(device);
  EXPECT_EQ(SyncWriteReport(link.get(), payload, kPayloadBytes, 100), -1);
  EXPECT_EQ(OmbrixSimWriteCount(device), before);  // refused writes never start
}

TEST_F(SyncWriteTest, TimeOutCancelsAndLeavesNothingBehind) {
  int32_t device = AddFamilyDevice(0x0832, 0x0100, "SYNCWRITE0000001");
  StandaloneLink link(0);
  uint8_t payload[kPayloadBytes];
  BuildSetModeReport(payload, 0);
  OmbrixSimSetWriteBehaviour(device, OMBRIX_SIM_WRITE_NEVER, 0);

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SyncWriteReport(link.get(), payload, kPayloadBytes, 100), 0);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(90));  // it did wait for the time-out
  // The cancelled transfer has ended before the call returned.
  EXPECT_EQ(OmbrixSimPendingTransfers(device), 0);

  // The lock is free: another thread can take it at once.
  bool entered = false;
  TestThread other([&] {
    link->writeLock.Enter();
    entered = true;
    link->writeLock.Leave();
  });
  other.Join();
  EXPECT_TRUE(entered);
  OmbrixSimSetWriteBehaviour(device, OMBRIX_SIM_WRITE_COMPLETE, 0);
  EXPECT_EQ(SyncWriteReport(link.get(), payload, kPayloadBytes, 100), 33);
}

TEST_F(SyncWriteTest, LengthLimitComesFirstAndClosedLinksAreRefused) {
  int32_t device = AddFamilyDevice(0x0832, 0x0100, "SYNCWRITE0000001");
  StandaloneLink link(0);
  static uint8_t big[516] = {};
  big[514] = 0x5A;
  EXPECT_EQ(SyncWriteReport(link.get(), big, 515, 100), 515);
  auto writes = Writes(device);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].size(), 516u);
  EXPECT_EQ(writes[0][0], 0);
  EXPECT_EQ(writes[0][515], 0x5A);

  EXPECT_EQ(SyncWriteReport(link.get(), big, 516, 100), -1);
  EXPECT_EQ(SyncWriteReport(nullptr, big, 516, 100), -1);  // the length check is first
  EXPECT_EQ(SyncWriteReport(nullptr, big, 33, 100), -3);
  link->isOpen.store(0);
  EXPECT_EQ(SyncWriteReport(link.get(), big, 33, 100), -3);
  EXPECT_EQ(OmbrixSimWriteCount(device), 1u);
}

}  // namespace
