// The end of a link's life through Wine's HID stack: an interface unplugged
// under an open link, and CloseAllLinks.
#include <cstdio>

#include "call_record.h"
#include "device_fixture.h"

namespace device_test {
namespace {

CallRecord g_changes;        // InterfaceChangeCallback
CallRecord g_serialChanges;  // InterfaceChangeSerialCallback

void OMBRIX_CALL OnInterfaceChange() { g_changes.Note(OMBRIX_FRAME(), 0); }
void OMBRIX_CALL OnSerialInterfaceChange(int32_t linkId) { g_serialChanges.Note(OMBRIX_FRAME(), linkId); }

bool IsOpen(const Bytes& serial) {
  uint8_t list[512];
  Dll().GetAllOpenedInterfaces(list);
  for (const Bytes& slot : Slots(list)) {
    if (slot == serial) return true;
  }
  return false;
}

class WineUnplug : public DeviceTest {};

TEST_F(WineUnplug, OneInterfaceChangePerFailedTransferAndCloseStillSucceeds) {
  const std::string name = OwnDevice("UNPLUG-0830");
  const Bytes serial = SerialOf(name);
  g_changes.Reset();
  g_serialChanges.Reset();
  uint8_t output[512] = {};
  uint8_t input[512];
  ASSERT_EQ(Dll().RegisterInterfaceChangeNotification(&OnInterfaceChange), 1);
  ASSERT_EQ(Dll().OpenLink(serial.data(), output, input), 1);
  int32_t linkId = Dll().RegisterInterfaceChangeNotificationSerial(serial.data(), &OnSerialInterfaceChange);
  ASSERT_NE(linkId, 0);
  ASSERT_EQ(Dll().SetInterfaceMode(serial.data(), 2), 1);
  ASSERT_GE(Script().WaitForReports(name, 18).size(), 18u);

  Script().Unplug(name);
  EXPECT_TRUE(WaitUntil([] { return g_serialChanges.Count() >= 1; }));
  // Transfers started before Wine has taken the device away fail when they
  // complete, each reported once; after that every new transfer fails to
  // start, which is not reported, so the count settles. A changed block
  // makes the I/O thread try writes as well.
  output[0] = 1;
  size_t settled = 0;
  EXPECT_TRUE(WaitUntil(
      [&] {
        size_t now = g_serialChanges.Count();
        if (now != settled) {
          settled = now;
          Sleep(1000);
          return false;
        }
        return true;
      },
      30000))
      << "interface-change callbacks go on after the unplug";
  std::vector<Call> changes = g_changes.Calls();
  std::vector<Call> serialChanges = g_serialChanges.Calls();
  std::printf("interface-change callbacks after unplug: %u process-wide, %u for the link\n", unsigned(changes.size()),
              unsigned(serialChanges.size()));
  EXPECT_EQ(changes.size(), serialChanges.size()) << "each failed transfer calls each callback once";
  const DWORD application = GetCurrentThreadId();
  DWORD eventThread = 0;
  EXPECT_TRUE(OneLibraryThread(changes, application, &eventThread, true));
  EXPECT_TRUE(OneLibraryThread(serialChanges, application, nullptr, true));
  for (const Call& call : serialChanges) {
    EXPECT_EQ(call.first, linkId);
    EXPECT_EQ(call.thread, eventThread) << "both interface-change callbacks run on the event thread";
  }

  EXPECT_EQ(Dll().CloseLink(serial.data()), 1) << "a link whose interface has gone still closes";
  EXPECT_FALSE(IsOpen(serial));
  EXPECT_EQ(Dll().GetDeviceTyp(serial.data()), 0) << "the unplugged interface is no longer listed";
  EXPECT_EQ(Dll().UnregisterInterfaceChangeNotification(), 1);
}

TEST_F(WineUnplug, CloseAllLinksEndsWithModeZeroAndNoLinkListed) {
  const std::string names[] = {"POLLED-0830", "TYPE2-0832", "QUEUED-0833"};
  uint8_t output[512] = {};
  for (const std::string& name : names) {
    // The first polls an output buffer, the others are fed by the queue.
    ASSERT_EQ(Dll().OpenLink(SerialOf(name).data(), name == names[0] ? output : nullptr, nullptr), 1) << name;
    ASSERT_EQ(Dll().SetInterfaceMode(SerialOf(name).data(), 2), 1);
  }
  uint8_t universe[512] = {};
  ASSERT_EQ(Dll().SendDmxUniverse(SerialOf(names[2]).data(), universe), 1);
  for (const std::string& name : names) Script().WaitForReports(name, 2);
  for (const std::string& name : names) Script().Clear(name);

  // The blocks of the mode change may still be going out, or on their way
  // through Wine, when the links close, so the first report after the
  // clear need not be the last one. Mode 0 is the last report once it has
  // arrived: nothing the library wrote before it can arrive after it, and
  // it writes nothing after it.
  EXPECT_EQ(Dll().CloseAllLinks(), 1);
  for (const std::string& name : names) {
    std::vector<Bytes> reports;
    EXPECT_TRUE(WaitUntil([&] {
      reports = Script().Reports(name);
      return !reports.empty() && reports.back() == ModeReport(0);
    })) << name
        << ": mode 0 is the last report; " << reports.size() << " reports since the clear";
  }
  uint8_t list[512];
  Dll().GetAllOpenedInterfaces(list);
  for (const Bytes& slot : Slots(list)) EXPECT_EQ(slot, Fill());
}

}  // namespace
}  // namespace device_test
