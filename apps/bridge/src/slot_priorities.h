// Per-slot priorities an input universe is sent with (sACN start code
// 0xDD): "1-48:100, 49-512:0" gives slots 1 to 48 priority 100 and leaves
// the rest unsourced (0), so receivers take only those slots from this node.
// Slots the text does not name are 0.
#ifndef OMBRIX_BRIDGE_SLOT_PRIORITIES_H
#define OMBRIX_BRIDGE_SLOT_PRIORITIES_H

#include <array>
#include <cstdint>
#include <string>

namespace ombrix_bridge {

using SlotPriorities = std::array<uint8_t, 512>;

// Parses RANGE:PRIORITY[, RANGE:PRIORITY ...], a range being SLOT or
// FIRST-LAST (1-512), a priority 0-200. Ranges may not overlap. On failure
// error gets a sentence that names the text.
bool ParseSlotPriorities(const std::string& text, SlotPriorities* priorities, std::string* error);

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_SLOT_PRIORITIES_H
