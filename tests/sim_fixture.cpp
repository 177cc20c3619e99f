#include "sim_fixture.h"

#include "platform/platform.h"
#include "registry/shared_bytes.h"

namespace ombrix_test {

Serial SerialOf(const std::string& text) {
  Serial serial{};
  for (size_t i = 0; i < text.size() && i < serial.size(); ++i) serial[i] = static_cast<uint8_t>(text[i]);
  return serial;
}

int32_t AddFamilyDevice(uint16_t productId, uint16_t release, const std::string& text) {
  std::vector<uint16_t> units(text.begin(), text.end());
  return AddDevice(0x16D0, productId, release, units);
}

int32_t AddDevice(uint16_t vendorId, uint16_t productId, uint16_t release, const std::vector<uint16_t>& units) {
  return OmbrixSimAddDevice(vendorId, productId, release, units.data(), static_cast<int32_t>(units.size()));
}

std::vector<Bytes> Writes(int32_t device) {
  std::vector<Bytes> writes;
  uint32_t count = OmbrixSimWriteCount(device);
  for (uint32_t i = 0; i < count; ++i) {
    Bytes bytes(600);
    int32_t length = OmbrixSimGetWrite(device, i, bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr);
    if (length <= 0) break;  // cleared meanwhile
    bytes.resize(static_cast<size_t>(length));
    writes.push_back(bytes);
  }
  return writes;
}

Bytes Report(std::initializer_list<uint8_t> payload) {
  Bytes report(34, 0);
  size_t i = 1;
  for (uint8_t byte : payload) report[i++] = byte;
  return report;
}

Bytes InputBlock(uint8_t block, uint8_t firstValue) {
  Bytes report(34, 0);
  report[1] = block;
  for (int i = 0; i < 32; ++i) report[2 + i] = static_cast<uint8_t>(firstValue + i);
  return report;
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    ombrix::platform::SleepMillis(1);
  }
  return true;
}

namespace {

// Block 15 of a uniform universe of value, plain or frame variant, as the
// device's last write.
bool LastWriteEndsFrameOf(int32_t device, uint8_t value) {
  uint32_t count = OmbrixSimWriteCount(device);
  uint8_t write[34];
  if (count == 0 || OmbrixSimGetWrite(device, count - 1, write, sizeof write, nullptr) != 34) return false;
  return (write[1] == 0x0F || write[1] == 0x2F) && write[2] == value && write[33] == value;
}

}  // namespace

bool SendUntilLastFrameIsOut(int32_t device, const Serial& serial, uint8_t first, uint8_t last) {
  // A universe dropped by a full ring is the common case right after a
  // burst, so the first waits are short; a slow machine gets longer ones.
  int patienceMs = 50;
  for (int value = first; value <= last; ++value) {
    std::array<uint8_t, 512> universe;
    universe.fill(static_cast<uint8_t>(value));
    if (SendDmxUniverse(serial.data(), universe.data()) != 1) return false;
    auto out = [&] { return LastWriteEndsFrameOf(device, static_cast<uint8_t>(value)); };
    if (WaitUntil(out, patienceMs)) return true;
    patienceMs = patienceMs < 1000 ? patienceMs * 2 : 2000;
  }
  return false;
}

void StoreChannel(uint8_t* universe, int index, uint8_t value) { ombrix::StoreSharedByte(universe + index, value); }

uint8_t LoadChannel(const uint8_t* universe, int index) { return ombrix::LoadSharedByte(universe + index); }

void SimTest::SetUp() { ASSERT_EQ(OmbrixSimReset(), 1) << "a previous test left a link open"; }

void SimTest::TearDown() {
  EXPECT_EQ(CloseAllLinks(), 1);
  EXPECT_EQ(OmbrixSimLibraryThreads(), 0);
  EXPECT_EQ(OmbrixSimReset(), 1) << "a device handle was left open";
}

}  // namespace ombrix_test

namespace ombrix_test {

namespace {
void RunBody(void* argument) { (*static_cast<std::function<void()>*>(argument))(); }
}  // namespace

TestThread::TestThread(std::function<void()> body) : body_(std::move(body)) {
  thread_ = ombrix::platform::ThreadStart(RunBody, &body_, nullptr);
}

void TestThread::Join() {
  if (thread_ != nullptr) ombrix::platform::ThreadJoin(thread_);
  thread_ = nullptr;
}

TestThread::~TestThread() { Join(); }

}  // namespace ombrix_test
