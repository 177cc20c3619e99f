/* Links the real library from the installed tree and lists what is
 * attached (on a build machine usually nothing). */
#include <stdio.h>

#include <ombrix_usb.h>

int main(void) {
  uint8_t list[512];
  GetAllConnectedInterfaces(list);
  printf("real library linked and called\n");
  return 0;
}
