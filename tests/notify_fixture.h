// The callback log shared by the notification tests: every callback of
// the application appends one entry, and the fixture keeps the process-wide
// slots empty between tests.
#ifndef OMBRIX_TESTS_NOTIFY_FIXTURE_H
#define OMBRIX_TESTS_NOTIFY_FIXTURE_H

#include <atomic>
#include <cstring>
#include <ostream>
#include <vector>

#include "held_link.h"
#include "registry/registry.h"
#include "sim_fixture.h"

namespace ombrix_test {

// Every callback appends one entry to this log: kind in the high byte,
// link id and block index below. Entries are published through done, so
// the test reads only completed entries.
inline constexpr int kLogCapacity = 4096;
enum Kind : int {
  kInputChange = 1,
  kBlock,
  kInterfaceChange,
  kHeartbeat,
  kBlockSerial,
  kInterfaceSerial,
  kHeartbeatOther
};
inline std::atomic<int> g_reserved{0};
inline std::atomic<int> g_done{0};
inline std::atomic<int> g_log[kLogCapacity];

inline void Record(int kind, int linkId, int block) {
  int index = g_reserved.fetch_add(1);
  if (index < kLogCapacity) g_log[index].store(kind << 24 | (linkId & 0xFFFF) << 8 | (block & 0xFF));
  g_done.fetch_add(1);
}

struct Entry {
  int kind, linkId, block;
  bool operator==(const Entry& o) const { return kind == o.kind && linkId == o.linkId && block == o.block; }
};
inline std::ostream& operator<<(std::ostream& out, const Entry& e) {
  return out << "{" << e.kind << "," << e.linkId << "," << e.block << "}";
}

inline std::vector<Entry> Log() {
  std::vector<Entry> entries;
  int count = g_done.load();
  if (count > kLogCapacity) count = kLogCapacity;
  for (int i = 0; i < count; ++i) {
    int v = g_log[i].load();
    entries.push_back({v >> 24, (v >> 8) & 0xFFFF, v & 0xFF});
  }
  return entries;
}
inline std::vector<Entry> LogOf(int kind) {
  std::vector<Entry> entries;
  for (const Entry& e : Log()) {
    if (e.kind == kind) entries.push_back(e);
  }
  return entries;
}
inline size_t CountOf(int kind) { return LogOf(kind).size(); }
inline bool WaitForCount(int kind, size_t count, int timeoutMs = 5000) {
  return WaitUntil([&] { return CountOf(kind) >= count; }, timeoutMs);
}

inline void OMBRIX_CALL OnInputChange() { Record(kInputChange, 0, 0); }
inline void OMBRIX_CALL OnBlock(uint32_t block) { Record(kBlock, 0, static_cast<int>(block)); }
inline void OMBRIX_CALL OnInterfaceChange() { Record(kInterfaceChange, 0, 0); }
inline void OMBRIX_CALL OnHeartbeat(int32_t linkId) { Record(kHeartbeat, linkId, 0); }
inline void OMBRIX_CALL OnHeartbeatOther(int32_t linkId) { Record(kHeartbeatOther, linkId, 0); }
inline void OMBRIX_CALL OnBlockSerial(int32_t linkId, uint32_t block) {
  Record(kBlockSerial, linkId, static_cast<int>(block));
}
inline void OMBRIX_CALL OnInterfaceSerial(int32_t linkId) { Record(kInterfaceSerial, linkId, 0); }

// What a heartbeat callback sees of the configuration cache.
inline Serial g_readbackSerial;
inline std::atomic<int> g_seenParam1{-1};
inline void OMBRIX_CALL OnHeartbeatReadsConfig(int32_t linkId) {
  uint16_t p1 = 0;
  GetInterfaceConfig(g_readbackSerial.data(), nullptr, &p1, nullptr, nullptr, nullptr, nullptr, nullptr);
  g_seenParam1.store(p1);
  Record(kHeartbeat, linkId, 0);
}

inline void Inject(int32_t device, const Bytes& report) {
  ASSERT_EQ(OmbrixSimInjectInput(device, report.data(), static_cast<uint32_t>(report.size())), 1);
}

// Injects reports while the link is parked, so that the I/O thread takes
// them in consecutive passes however late the test thread gets to run:
// otherwise a pause between two injections could count as a quiet spell.
// holdMillis keeps the link parked a little longer after the injections.
inline void InjectBurst(const Serial& serial, int32_t device, const std::vector<Bytes>& reports, int holdMillis = 0) {
  HeldLink held(serial);
  ASSERT_NE(held.link(), nullptr);
  for (const Bytes& report : reports) Inject(device, report);
  if (holdMillis > 0) ombrix::platform::SleepMillis(static_cast<uint32_t>(holdMillis));
}

inline std::vector<Bytes> Blocks(int count, uint8_t firstValue) {
  std::vector<Bytes> reports;
  for (int b = 0; b < count; ++b) reports.push_back(InputBlock(static_cast<uint8_t>(b), firstValue));
  return reports;
}

// The process-wide slots outlive links and tests: every test starts and
// ends with all of them empty.
class NotifyTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ClearGlobalSlots();
    g_reserved.store(0);
    g_done.store(0);
  }
  void TearDown() override {
    ClearGlobalSlots();
    SimTest::TearDown();
  }
  static void ClearGlobalSlots() {
    // The heartbeat slot can only be cleared through an open link.
    uint8_t list[512];
    GetAllOpenedInterfaces(list);
    if (std::memcmp(list, "0000000000000000", 16) != 0) UnregisterHeartbeatNotification(list);
    EXPECT_EQ(UnregisterInputChangeNotification(), 1);
    EXPECT_EQ(UnregisterInputChangeBlockNotification(), 1);
    EXPECT_EQ(UnregisterInterfaceChangeNotification(), 1);
  }
};

}  // namespace ombrix_test

#endif  // OMBRIX_TESTS_NOTIFY_FIXTURE_H
