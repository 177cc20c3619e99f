/* Lists simulated interfaces through the public API, as an application
 * would list real ones. */
#include <stdio.h>
#include <string.h>

#include "ombrix_usb.h"
#include "ombrix_usb_sim.h"

static void AddSimulated(uint16_t product, uint16_t release, const char* serial) {
  uint16_t units[16];
  int count = (int)strlen(serial);
  for (int i = 0; i < count; ++i) units[i] = (uint8_t)serial[i];
  OmbrixSimAddDevice(0x16D0, product, release, units, count);
}

int main(void) {
  AddSimulated(0x0830, 0x0106, "OMX0000000000001");
  AddSimulated(0x0832, 0x0200, "OMX0000000000002");
  AddSimulated(0x0833, 0x0201, "OMX0000000000003");

  uint8_t list[512];
  GetAllConnectedInterfaces(list);
  printf("serial            type  release\n");
  for (int slot = 0; slot < 32; ++slot) {
    const uint8_t* serial = list + 16 * slot;
    if (memcmp(serial, "0000000000000000", 16) == 0) break;
    printf("%.16s  %4d  0x%04X\n", (const char*)serial, GetDeviceTyp(serial), GetDeviceVersion(serial));
  }
  return 0;
}
