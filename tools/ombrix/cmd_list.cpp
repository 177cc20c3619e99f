#include <cstdio>

#include "commands.h"

namespace ombrix_tool {

int Fail(const std::string& sentence) {
  fprintf(stderr, "ombrix: %s\n", sentence.c_str());
  return kExitFailure;
}

int FailUsage(const std::string& sentence) {
  Fail(sentence);
  return kExitUsage;
}

void Hold(double seconds) {
  if (seconds < 0) {
    while (SleepUnlessStopped(1000)) {
    }
    return;
  }
  SleepUnlessStopped(static_cast<uint32_t>(seconds * 1000.0));
}

int RunList(const Api& api) {
  std::vector<Serial> serials = ConnectedSerials(api);
  if (serials.empty()) {
    printf("No interface is attached.\n");
    return 0;
  }
  printf("serial            type  release\n");
  for (const Serial& serial : serials) {
    printf("%s  %4d  0x%04X\n", SerialText(serial).c_str(), api.GetDeviceTyp(serial.data()),
           static_cast<unsigned>(api.GetDeviceVersion(serial.data())));
  }
  return 0;
}

}  // namespace ombrix_tool
