/* Links Ombrix_USB through its import library, as a C application built
 * against the public header does, and makes a few calls. Exit status 0
 * when every answer is the one expected with no link open. */
#include <stdio.h>
#include <string.h>

#include "ombrix_usb.h"

int main(void) {
  static const uint8_t serial[16] = "not open anywhe";
  uint8_t list[512];
  int failures = 0;

  memset(list, 0x55, sizeof list);
  GetAllOpenedInterfaces(list);
  for (int slot = 0; slot < 32; ++slot) {
    if (memcmp(list + 16 * slot, "0000000000000000", 16) != 0) ++failures;
  }
  GetAllConnectedInterfaces(list);
  if (GetDeviceTyp(serial) != 0) ++failures;
  if (SetInterfaceMode(serial, 2) != 0) ++failures;
  if (CloseLink(serial) != 0) ++failures;
  if (CloseAllLinks() != 1) ++failures;

  printf("import library calls: %d failed\n", failures);
  return failures == 0 ? 0 : 1;
}
