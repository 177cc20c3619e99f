#include <cstdio>

#include "commands.h"

namespace ombrix_tool {

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
