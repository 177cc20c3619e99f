/* Compiled as strict C99: the public headers must not need C++. */
#include "ombrix_usb.h"
#include "ombrix_usb_sim.h"

static InputChangeCallback inputChange;
static InputChangeBlockCallback inputBlock;
static InterfaceChangeCallback interfaceChange;
static HeartbeatCallback heartbeat;
static InputChangeBlockSerialCallback inputBlockSerial;
static InterfaceChangeSerialCallback interfaceChangeSerial;

int ombrix_header_c_check(void) {
  return (inputChange == 0) + (inputBlock == 0) + (interfaceChange == 0) + (heartbeat == 0) + (inputBlockSerial == 0) +
         (interfaceChangeSerial == 0);
}
