#include "device_fixture.h"

#include <cstdio>
#include <string>

namespace device_test {

::testing::AssertionResult WaitUntilAllListed(DWORD limitMs) {
  // Waited for once: a walk that misses devices now will miss them in
  // every later test too, so those fail at once with the same reason.
  static bool waited = false;
  static std::string missingText;
  if (waited) {
    if (missingText.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "never listed:" << missingText;
  }
  waited = true;
  std::vector<Bytes> wanted;
  for (const ScriptedDevice& device : Script().List()) {
    if (IsFamily(device)) wanted.push_back(SerialOf(device.name));
  }
  if (wanted.empty()) {
    missingText = " anything (the device server lists no family device)";
    return ::testing::AssertionFailure() << "never listed:" << missingText;
  }
  std::vector<Bytes> missing;
  DWORD start = GetTickCount();
  do {
    uint8_t list[512];
    Dll().GetAllConnectedInterfaces(list);
    std::vector<Bytes> slots = Slots(list);
    missing.clear();
    for (const Bytes& serial : wanted) {
      if (std::find(slots.begin(), slots.end(), serial) == slots.end()) missing.push_back(serial);
    }
    if (missing.empty()) {
      std::printf("all %u family devices listed after %lu ms\n", unsigned(wanted.size()),
                  static_cast<unsigned long>(GetTickCount() - start));
      return ::testing::AssertionSuccess();
    }
    Sleep(200);
  } while (GetTickCount() - start < limitMs);
  for (const Bytes& serial : missing) missingText += " " + Text(serial);
  return ::testing::AssertionFailure() << "never listed:" << missingText;
}

}  // namespace device_test
