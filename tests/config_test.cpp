// Mode changes, transmit configuration, store requests and the configuration
// cache, as they show on the wire and through GetInterfaceConfig.
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>

#include "held_link.h"
#include "registry/registry.h"
#include "sim_fixture.h"

using namespace ombrix_test;

namespace {

const Bytes kModeZero = Report({0x10, 0x00});
const Bytes kStore = Report({0x12, 0x01});

// The wire form of a polled block: type byte, then 32 channels of out.
Bytes BlockFrom(uint8_t type, const uint8_t* universe, int block) {
  Bytes report(34, 0);
  report[1] = type;
  for (int i = 0; i < 32; ++i) report[2 + i] = LoadChannel(universe, block * 32 + i);
  return report;
}

// A transmit configuration command as the library builds it: the low byte
// of each value, a zero high byte, length 512, final byte 0.
Bytes AdvTx(uint8_t byteValue, uint8_t p1, uint8_t p2, uint8_t p3, uint8_t p4) {
  return Report({0x11, byteValue, p1, 0, p2, 0, p3, 0, p4, 0, 0x00, 0x02, 0x00});
}

struct Config {
  uint8_t byteValue = 0xEE;
  uint16_t p1 = 0xEEEE, p2 = 0xEEEE, p3 = 0xEEEE, p4 = 0xEEEE, length = 0xEEEE, last = 0xEEEE;
};

int32_t ReadConfig(const Serial& serial, Config& c) {
  return GetInterfaceConfig(serial.data(), &c.byteValue, &c.p1, &c.p2, &c.p3, &c.p4, &c.length, &c.last);
}

// Waits until the log holds at least count writes, then returns the log.
std::vector<Bytes> WaitForWrites(int32_t device, size_t count) {
  WaitUntil([&] { return OmbrixSimWriteCount(device) >= count; });
  return Writes(device);
}

class ConfigTest : public SimTest {};

TEST_F(ConfigTest, ModeTwoOnPolledLinkSendsModeThenEveryBlockThenOnlyChanges) {
  int32_t device = AddFamilyDevice(0x0830, 0x0106, "MODEPOLL00000001");
  Serial serial = SerialOf("MODEPOLL00000001");
  static uint8_t output[512];
  for (int i = 0; i < 512; ++i) StoreChannel(output, i, static_cast<uint8_t>(i * 7));
  ASSERT_EQ(OpenLink(serial.data(), output, nullptr), 1);
  ASSERT_EQ(Writes(device), std::vector<Bytes>{kModeZero});  // mode 0: no block goes out
  OmbrixSimClearWrites(device);

  ASSERT_EQ(SetInterfaceMode(serial.data(), 2), 1);
  auto writes = WaitForWrites(device, 17);
  ASSERT_EQ(writes.size(), 17u);
  EXPECT_EQ(writes[0], Report({0x10, 0x02}));
  for (int b = 0; b < 16; ++b) EXPECT_EQ(writes[1 + b], BlockFrom(static_cast<uint8_t>(b), output, b)) << b;

  // One changed channel: only its block goes out again.
  StoreChannel(output, 5 * 32 + 3, 0xA5);
  writes = WaitForWrites(device, 18);
  ASSERT_EQ(writes.size(), 18u);
  EXPECT_EQ(writes[17], BlockFrom(5, output, 5));

  // The active mode again, also given with higher bits set: no report, and
  // the call returns without waiting for the I/O thread.
  EXPECT_EQ(SetInterfaceMode(serial.data(), 2), 1);
  EXPECT_EQ(SetInterfaceMode(serial.data(), 0x302), 1);
  // Mode 0x107 is mode 7, another output mode: all 16 blocks go out again.
  ASSERT_EQ(SetInterfaceMode(serial.data(), 0x107), 1);
  writes = WaitForWrites(device, 35);
  ASSERT_EQ(writes.size(), 35u);
  EXPECT_EQ(writes[18], Report({0x10, 0x07}));
  for (int b = 0; b < 16; ++b) EXPECT_EQ(writes[19 + b], BlockFrom(static_cast<uint8_t>(b), output, b)) << b;

  // Mode 1 is not an output mode: the report, then nothing even though
  // the buffer changes.
  ASSERT_EQ(SetInterfaceMode(serial.data(), 1), 1);
  writes = WaitForWrites(device, 36);
  ASSERT_EQ(writes.size(), 36u);
  EXPECT_EQ(writes[35], Report({0x10, 0x01}));
  StoreChannel(output, 0, 0x11);
  ombrix::platform::SleepMillis(100);
  EXPECT_EQ(OmbrixSimWriteCount(device), 36u);

  ASSERT_EQ(CloseLink(serial.data()), 1);
  EXPECT_EQ(Writes(device).back(), kModeZero);
}

// Queue mode sends whole universes, the newest one only, with the frame
// variant of the type byte on the products that know it.
TEST_F(ConfigTest, QueueModeSendsOnlyTheNewestUniverseWithTheProductsTypeBytes) {
  struct Case {
    uint16_t product;
    uint8_t typeBase;
  } cases[] = {{0x0832, 0x20}, {0x0833, 0x20}, {0x0754, 0x00}, {0x0830, 0x00}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.product);
    ASSERT_EQ(OmbrixSimReset(), 1);
    int32_t device = AddFamilyDevice(c.product, 0x0200, "QUEUEMODE0000001");
    Serial serial = SerialOf("QUEUEMODE0000001");
    ASSERT_EQ(OpenLink(serial.data(), nullptr, nullptr), 1);
    OmbrixSimClearWrites(device);

    // In mode 0 the I/O thread takes no frame, so three universes queued
    // now pile up behind the blank one the link starts with, and all four
    // are waiting when the mode goes up. (Queued after the mode change,
    // behind a slow mode report, they would pile up only if the test
    // thread kept up with the device.)
    uint8_t universes[3][512];
    for (int u = 0; u < 3; ++u) {
      for (int i = 0; i < 512; ++i) universes[u][i] = static_cast<uint8_t>(u * 50 + i);
      ASSERT_EQ(SendDmxUniverse(serial.data(), universes[u]), 1);
    }
    ASSERT_EQ(SetInterfaceMode(serial.data(), 2), 1);

    auto writes = WaitForWrites(device, 17);
    ombrix::platform::SleepMillis(100);  // nothing more may follow
    writes = Writes(device);
    ASSERT_EQ(writes.size(), 17u);
    EXPECT_EQ(writes[0], Report({0x10, 0x02}));
    for (int b = 0; b < 16; ++b) {
      EXPECT_EQ(writes[1 + b], BlockFrom(static_cast<uint8_t>(c.typeBase + b), universes[2], b)) << b;
    }
    ASSERT_EQ(CloseLink(serial.data()), 1);
  }
}

TEST_F(ConfigTest, WaitingRequestsGoOutModeThenConfigThenStore) {
  int32_t device = AddFamilyDevice(0x0832, 0x0100, "ORDER00000000001");
  Serial serial = SerialOf("ORDER00000000001");
  static uint8_t output[512];
  ASSERT_EQ(OpenLink(serial.data(), output, nullptr), 1);
  OmbrixSimClearWrites(device);

  // Mode 1 goes out; everything below is waiting at once when the held
  // link runs again.
  ASSERT_EQ(SetInterfaceMode(serial.data(), 1), 1);
  std::atomic<int> modeTwo{-1};
  std::unique_ptr<TestThread> waiter;  // joined after the link is let go
  {
    HeldLink held(serial);
    ASSERT_NE(held.link(), nullptr);
    ASSERT_EQ(StoreInterfaceAdvTxConfig(serial.data()), 1);
    ASSERT_EQ(SetInterfaceAdvTxConfig(serial.data(), 9, 8, 7, 6, 5, 512, 0), 1);
    ASSERT_EQ(StoreInterfaceAdvTxConfig(serial.data()), 1);
    // SetInterfaceMode waits until the mode is taken up, which a held link
    // never does: it asks from a thread of its own.
    waiter = std::make_unique<TestThread>([&] { modeTwo.store(SetInterfaceMode(serial.data(), 2)); });
    ASSERT_TRUE(WaitUntil([&] { return held.link()->modeRequested.load() == 2; }));
  }
  waiter->Join();
  EXPECT_EQ(modeTwo.load(), 1);

  auto writes = WaitForWrites(device, 20);
  ASSERT_EQ(writes.size(), 20u);
  EXPECT_EQ(writes[0], Report({0x10, 0x01}));
  EXPECT_EQ(writes[1], Report({0x10, 0x02}));
  EXPECT_EQ(writes[2], AdvTx(9, 8, 7, 6, 5));
  EXPECT_EQ(writes[3], kStore);
  // A mode change starts the universe over from block 0.
  for (int b = 0; b < 16; ++b) EXPECT_EQ(writes[4 + b], BlockFrom(static_cast<uint8_t>(b), output, b)) << b;
}

TEST_F(ConfigTest, ConfigWithdrawsAWaitingStoreAndReplacesAWaitingConfig) {
  int32_t device = AddFamilyDevice(0x0833, 0x0100, "WITHDRAW00000001");
  Serial serial = SerialOf("WITHDRAW00000001");
  static uint8_t output[512];
  ASSERT_EQ(OpenLink(serial.data(), output, nullptr), 1);
  OmbrixSimClearWrites(device);

  ASSERT_EQ(SetInterfaceMode(serial.data(), 1), 1);
  {
    // All three waiting at once, so that none can go out before the next
    // one is made.
    HeldLink held(serial);
    ASSERT_NE(held.link(), nullptr);
    ASSERT_EQ(StoreInterfaceAdvTxConfig(serial.data()), 1);
    ASSERT_EQ(SetInterfaceAdvTxConfig(serial.data(), 1, 2, 3, 4, 5, 512, 0), 1);
    ASSERT_EQ(SetInterfaceAdvTxConfig(serial.data(), 0x21, 0x22, 0x23, 0x24, 0x25, 512, 0), 1);
  }

  WaitForWrites(device, 2);
  ombrix::platform::SleepMillis(100);  // a store left behind would go out now
  auto writes = Writes(device);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0], Report({0x10, 0x01}));
  EXPECT_EQ(writes[1], AdvTx(0x21, 0x22, 0x23, 0x24, 0x25));

  // Config then store: both, in that order.
  ASSERT_EQ(SetInterfaceAdvTxConfig(serial.data(), 0x31, 0x32, 0x33, 0x34, 0x35, 512, 0), 1);
  ASSERT_EQ(StoreInterfaceAdvTxConfig(serial.data()), 1);
  writes = WaitForWrites(device, 4);
  ASSERT_EQ(writes.size(), 4u);
  EXPECT_EQ(writes[2], AdvTx(0x31, 0x32, 0x33, 0x34, 0x35));
  EXPECT_EQ(writes[3], kStore);
}

TEST_F(ConfigTest, ConfigPayloadAndCacheAndReadback) {
  int32_t device = AddFamilyDevice(0x0830, 0x0106, "CACHE00000000001");
  Serial serial = SerialOf("CACHE00000000001");
  ASSERT_EQ(OpenLink(serial.data(), nullptr, nullptr), 1);
  OmbrixSimClearWrites(device);

  Config c;
  ASSERT_EQ(ReadConfig(serial, c), 1);
  EXPECT_EQ(c.byteValue, 0);
  EXPECT_EQ(c.p1, 0);
  EXPECT_EQ(c.p2, 0);
  EXPECT_EQ(c.p3, 0);
  EXPECT_EQ(c.p4, 0);
  EXPECT_EQ(c.length, 0);
  EXPECT_EQ(c.last, 0);

  // Length and final byte are not used; parameters travel as their low
  // byte but stay whole in the cache.
  ASSERT_EQ(SetInterfaceAdvTxConfig(serial.data(), 5, 300, 20, 2, 1000, 100, 7), 1);
  c = Config{};
  ASSERT_EQ(ReadConfig(serial, c), 1);
  EXPECT_EQ(c.byteValue, 5);
  EXPECT_EQ(c.p1, 300);
  EXPECT_EQ(c.p2, 20);
  EXPECT_EQ(c.p3, 2);
  EXPECT_EQ(c.p4, 1000);
  EXPECT_EQ(c.length, 512);
  EXPECT_EQ(c.last, 0);
  auto writes = WaitForWrites(device, 1);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0], Report({0x11, 0x05, 0x2C, 0x00, 0x14, 0x00, 0x02, 0x00, 0xE8, 0x00, 0x00, 0x02, 0x00}));

  // Wider values are cut to 8 bits on the wire and to 16 in the cache.
  ASSERT_EQ(SetInterfaceAdvTxConfig(serial.data(), 0x1FF, 0x12345, -1, 0x10000, 0x0180, 0, 0), 1);
  c = Config{};
  ASSERT_EQ(ReadConfig(serial, c), 1);
  EXPECT_EQ(c.byteValue, 0xFF);
  EXPECT_EQ(c.p1, 0x2345);
  EXPECT_EQ(c.p2, 0xFFFF);
  EXPECT_EQ(c.p3, 0);
  EXPECT_EQ(c.p4, 0x0180);
  writes = WaitForWrites(device, 2);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[1], AdvTx(0xFF, 0x45, 0xFF, 0x00, 0x80));

  // A readback from the interface replaces all seven values.
  Bytes readback = Report({0x11, 0x99, 0x01, 0x02, 0x34, 0x12, 0xFF, 0xFF, 0x00, 0x80, 0x20, 0x01, 0xFF});
  ASSERT_EQ(OmbrixSimInjectInput(device, readback.data(), 34), 1);
  ASSERT_TRUE(WaitUntil([&] {
    Config now;
    ReadConfig(serial, now);
    return now.byteValue == 0x99;
  }));
  c = Config{};
  ASSERT_EQ(ReadConfig(serial, c), 1);
  EXPECT_EQ(c.p1, 513);
  EXPECT_EQ(c.p2, 0x1234);
  EXPECT_EQ(c.p3, 0xFFFF);
  EXPECT_EQ(c.p4, 0x8000);
  EXPECT_EQ(c.length, 0x0120);
  EXPECT_EQ(c.last, 255);
  // The readback is not answered on the wire.
  EXPECT_EQ(OmbrixSimWriteCount(device), 2u);

  // Null destinations are skipped.
  uint16_t p2 = 0;
  EXPECT_EQ(GetInterfaceConfig(serial.data(), nullptr, nullptr, &p2, nullptr, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(p2, 0x1234);

  // Reopened, the cache starts from zero again.
  ASSERT_EQ(CloseLink(serial.data()), 1);
  ASSERT_EQ(OpenLink(serial.data(), nullptr, nullptr), 1);
  c = Config{};
  ASSERT_EQ(ReadConfig(serial, c), 1);
  EXPECT_EQ(c.byteValue, 0);
  EXPECT_EQ(c.p1, 0);
  EXPECT_EQ(c.length, 0);
  EXPECT_EQ(c.last, 0);
}

TEST_F(ConfigTest, UnknownSerialIsRefusedAndChangesNothing) {
  int32_t device = AddFamilyDevice(0x0832, 0x0100, "KNOWN00000000001");
  Serial known = SerialOf("KNOWN00000000001");
  Serial unknown = SerialOf("UNKNOWN000000001");
  ASSERT_EQ(OpenLink(known.data(), nullptr, nullptr), 1);
  OmbrixSimClearWrites(device);
  Config c;
  EXPECT_EQ(SetInterfaceMode(unknown.data(), 2), 0);
  EXPECT_EQ(SetInterfaceAdvTxConfig(unknown.data(), 1, 2, 3, 4, 5, 512, 0), 0);
  EXPECT_EQ(StoreInterfaceAdvTxConfig(unknown.data()), 0);
  EXPECT_EQ(ReadConfig(unknown, c), 0);
  EXPECT_EQ(c.byteValue, 0xEE);  // destinations untouched
  EXPECT_EQ(c.p1, 0xEEEE);
  EXPECT_EQ(SetInterfaceMode(nullptr, 2), 0);
  EXPECT_EQ(GetInterfaceConfig(nullptr, &c.byteValue, &c.p1, &c.p2, &c.p3, &c.p4, &c.length, &c.last), 0);
  ombrix::platform::SleepMillis(50);
  EXPECT_EQ(OmbrixSimWriteCount(device), 0u);
  ASSERT_EQ(ReadConfig(known, c), 1);
  EXPECT_EQ(c.byteValue, 0);
}

// A waiter in SetInterfaceMode must come back, with 0, when another thread
// closes the link under it, and must not touch the freed record (ASan).
TEST_F(ConfigTest, ModeWaiterReturnsZeroWhenTheLinkIsClosed) {
  int32_t device = AddFamilyDevice(0x0832, 0x0100, "WAITER0000000001");
  Serial serial = SerialOf("WAITER0000000001");
  ASSERT_EQ(OpenLink(serial.data(), nullptr, nullptr), 1);
  OmbrixSimClearWrites(device);
  OmbrixSimSetWriteBehaviour(device, OMBRIX_SIM_WRITE_NEVER, 0);
  ASSERT_EQ(SetInterfaceMode(serial.data(), 1), 1);  // taken up; its write never ends
  ASSERT_TRUE(WaitUntil([&] { return OmbrixSimWriteCount(device) == 1; }));

  std::atomic<int> result{-1};
  TestThread waiter([&] { result.store(SetInterfaceMode(serial.data(), 2)); });
  // The waiter has asked for mode 2 and holds the record.
  ASSERT_TRUE(WaitUntil([&] {
    ombrix::LinkReadSection section;
    ombrix::Link* link = ombrix::FindLinkBySerial(serial.data());
    return link != nullptr && link->modeRequested.load() == 2 && link->pins.load() > 0;
  }));
  ombrix::platform::SleepMillis(20);
  EXPECT_EQ(result.load(), -1);  // still waiting: the mode cannot be taken up

  ASSERT_EQ(CloseLink(serial.data()), 1);
  waiter.Join();
  EXPECT_EQ(result.load(), 0);
  auto writes = Writes(device);
  ASSERT_EQ(writes.size(), 2u);  // mode 2 never went out
  EXPECT_EQ(writes[0], Report({0x10, 0x01}));
  EXPECT_EQ(writes[1], kModeZero);
  EXPECT_EQ(OmbrixSimPendingTransfers(device), 0);
}

// Requests from a hammering thread overlap the I/O thread's copies: every
// command sent must be one that was requested, whole, and the last request
// must be the last command sent.
TEST_F(ConfigTest, HammeredConfigNeverSendsAMixAndNeverLosesTheLast) {
  int32_t device = AddFamilyDevice(0x0833, 0x0100, "HAMMER0000000001");
  Serial serial = SerialOf("HAMMER0000000001");
  ASSERT_EQ(OpenLink(serial.data(), nullptr, nullptr), 1);
  OmbrixSimClearWrites(device);

  std::atomic<bool> stop{false};
  std::atomic<int> badCache{0};
  // A reader checks that the cache always holds the values of one call.
  TestThread reader([&] {
    while (!stop.load()) {
      Config c;
      if (ReadConfig(serial, c) != 1) continue;
      if (c.length == 0) continue;  // nothing set yet
      bool whole = c.byteValue == (c.p1 & 0xFF) && c.p2 == static_cast<uint16_t>(c.p1 + 1) &&
                   c.p3 == static_cast<uint16_t>(c.p1 + 2) && c.p4 == static_cast<uint16_t>(c.p1 + 3) &&
                   c.length == 512 && c.last == 0;
      if (!whole) badCache.fetch_add(1);
    }
  });
  // Requests keep coming until the I/O thread has sent a few hundred of
  // them, so that many of its copies overlap a rebuild.
  std::atomic<int> lastRequest{0};
  TestThread hammer([&] {
    // Bounded by time, not by a count of requests: on a loaded machine the
    // I/O thread may not run at all while a fixed number of requests is
    // made, and the test would then prove nothing.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int i = 1;
    for (; OmbrixSimWriteCount(device) < 400 && std::chrono::steady_clock::now() < deadline; ++i) {
      SetInterfaceAdvTxConfig(serial.data(), i, i, i + 1, i + 2, i + 3, 512, 0);
      if (i % 3 == 0) StoreInterfaceAdvTxConfig(serial.data());
    }
    // The final request withdraws any store still waiting.
    SetInterfaceAdvTxConfig(serial.data(), i, i, i + 1, i + 2, i + 3, 512, 0);
    lastRequest.store(i);
  });
  hammer.Join();
  const uint8_t last = static_cast<uint8_t>(lastRequest.load());
  const Bytes lastCommand =
      AdvTx(last, last, static_cast<uint8_t>(last + 1), static_cast<uint8_t>(last + 2), static_cast<uint8_t>(last + 3));
  auto lastSent = [&] {
    auto writes = Writes(device);
    return writes.empty() ? Bytes{} : writes.back();
  };
  ASSERT_TRUE(WaitUntil([&] { return lastSent() == lastCommand; }));
  ombrix::platform::SleepMillis(50);  // and nothing after it
  EXPECT_EQ(lastSent(), lastCommand);
  stop.store(true);
  reader.Join();
  EXPECT_EQ(badCache.load(), 0);

  auto writes = Writes(device);
  int commands = 0;
  for (const Bytes& w : writes) {
    ASSERT_EQ(w.size(), 34u);
    if (w == kStore) continue;
    ASSERT_EQ(w[1], 0x11);
    uint8_t i = w[2];
    Bytes expected = AdvTx(i, i, static_cast<uint8_t>(i + 1), static_cast<uint8_t>(i + 2), static_cast<uint8_t>(i + 3));
    EXPECT_EQ(w, expected) << "a command that was never requested";
    ++commands;
  }
  EXPECT_GE(commands, 2);
  Config c;
  ASSERT_EQ(ReadConfig(serial, c), 1);
  EXPECT_EQ(c.p1, static_cast<uint16_t>(lastRequest.load()));  // parameters are 16 bits wide
}

// Readbacks arrive in a loop while an application thread reads the cache:
// each read must give the seven values of one readback.
TEST_F(ConfigTest, CacheReadsNeverMixTwoReadbacks) {
  int32_t device = AddFamilyDevice(0x0832, 0x0100, "READBACK00000001");
  Serial serial = SerialOf("READBACK00000001");
  ASSERT_EQ(OpenLink(serial.data(), nullptr, nullptr), 1);

  std::atomic<bool> stop{false};
  std::atomic<int> reads{0};
  std::atomic<int> torn{0};
  TestThread reader([&] {
    while (!stop.load()) {
      Config c;
      if (ReadConfig(serial, c) != 1) continue;
      reads.fetch_add(1);
      if (c.length == 0) continue;  // before the first readback
      uint16_t k = c.p1;
      bool whole = c.byteValue == (k & 0xFF) && c.p2 == static_cast<uint16_t>(k ^ 0xFFFF) &&
                   c.p3 == static_cast<uint16_t>(k + 3) && c.p4 == static_cast<uint16_t>(k * 5) &&
                   c.length == static_cast<uint16_t>(k + 0x100) && c.last == ((k >> 3) & 0xFF);
      if (!whole) torn.fetch_add(1);
    }
  });
  constexpr int kReadbacks = 2000;
  for (int n = 1; n <= kReadbacks; ++n) {
    uint16_t k = static_cast<uint16_t>(n * 31);
    uint16_t values[5] = {k, static_cast<uint16_t>(k ^ 0xFFFF), static_cast<uint16_t>(k + 3),
                          static_cast<uint16_t>(k * 5), static_cast<uint16_t>(k + 0x100)};
    Bytes report(34, 0);
    report[1] = 0x11;
    report[2] = static_cast<uint8_t>(k);
    for (int v = 0; v < 5; ++v) {
      report[3 + 2 * v] = static_cast<uint8_t>(values[v]);
      report[4 + 2 * v] = static_cast<uint8_t>(values[v] >> 8);
    }
    report[13] = static_cast<uint8_t>(k >> 3);
    ASSERT_EQ(OmbrixSimInjectInput(device, report.data(), 34), 1);
    // Keep the device's input queue from overflowing (it drops the oldest).
    if (n % 100 == 0) {
      uint16_t want = k;
      ASSERT_TRUE(WaitUntil([&] {
        Config c;
        ReadConfig(serial, c);
        return c.p1 == want;
      }));
    }
  }
  stop.store(true);
  reader.Join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(torn.load(), 0);
}

}  // namespace
