#ifndef OMBRIX_DISCOVERY_SERIAL_LIST_H
#define OMBRIX_DISCOVERY_SERIAL_LIST_H

#include <cstdint>
#include <cstring>

#include "registry/link.h"

namespace ombrix {

constexpr int kSerialListSlots = 32;

// Sets all 32 slots of a caller's serial list to "0000000000000000".
inline void FillSerialList(uint8_t* serialList) { std::memset(serialList, '0', kSerialListSlots * kSerialBytes); }

}  // namespace ombrix

#endif  // OMBRIX_DISCOVERY_SERIAL_LIST_H
