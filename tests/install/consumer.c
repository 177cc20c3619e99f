/* An application built against the installed tree: it lists the simulated
 * interfaces, opens one, sets mode 2 and streams a changed channel, then
 * checks on the simulated wire that the value went out. Exits 0 on success. */
#define _POSIX_C_SOURCE 200809L /* nanosleep */
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <ombrix_usb.h>
#include <ombrix_usb_sim.h>

static void SleepMillis(long millis) {
  struct timespec request = {millis / 1000, (millis % 1000) * 1000000L};
  nanosleep(&request, NULL);
}

int main(void) {
  const uint16_t units[16] = {'I', 'N', 'S', 'T', 'A', 'L', 'L', '0', '0', '0', '0', '0', '0', '0', '0', '1'};
  int32_t device = OmbrixSimAddDevice(0x16D0, 0x0832, 0x0200, units, 16);
  OmbrixSimSetWriteBehaviour(device, OMBRIX_SIM_WRITE_COMPLETE, 1000);

  uint8_t list[512];
  GetAllConnectedInterfaces(list);
  if (memcmp(list, "INSTALL000000001", 16) != 0) {
    fprintf(stderr, "consumer: the simulated interface is not listed\n");
    return 1;
  }
  static uint8_t output[512];
  static uint8_t input[512];
  if (OpenLink(list, output, input) != 1 || SetInterfaceMode(list, 2) != 1) {
    fprintf(stderr, "consumer: could not open the link or set mode 2\n");
    return 1;
  }
  __atomic_store_n(&output[99], (uint8_t)42, __ATOMIC_RELAXED);
  int found = 0;
  for (int attempt = 0; attempt < 500 && !found; ++attempt) {
    SleepMillis(2);
    uint8_t report[64];
    uint32_t count = OmbrixSimWriteCount(device);
    for (uint32_t i = 0; i < count && !found; ++i) {
      /* Channel 100 is byte 3 of block 3: report ID, type 3, 32 data bytes. */
      found = OmbrixSimGetWrite(device, i, report, sizeof report, NULL) == 34 && report[1] == 3 && report[2 + 3] == 42;
    }
  }
  CloseLink(list);
  if (!found) {
    fprintf(stderr, "consumer: channel 100 never reached the wire\n");
    return 1;
  }
  printf("consumer: channel 100 = 42 on the wire\n");
  return 0;
}
