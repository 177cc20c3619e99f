#include "device_fixture.h"

#include <cstdio>

namespace device_test {

::testing::AssertionResult WaitUntilAllListed(DWORD limitMs) {
  static bool allListed = false;
  if (allListed) return ::testing::AssertionSuccess();
  std::vector<Bytes> wanted;
  for (const ScriptedDevice& device : Script().List()) {
    if (IsFamily(device)) wanted.push_back(SerialOf(device.name));
  }
  if (wanted.empty()) return ::testing::AssertionFailure() << "the device server lists no family device";
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
      allListed = true;
      return ::testing::AssertionSuccess();
    }
    Sleep(200);
  } while (GetTickCount() - start < limitMs);
  auto failure = ::testing::AssertionFailure() << "never listed:";
  for (const Bytes& serial : missing) failure << " " << Text(serial);
  return failure;
}

}  // namespace device_test
