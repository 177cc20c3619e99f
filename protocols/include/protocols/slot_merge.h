// The per-slot merge both trackers use: highest priority wins, equal
// priorities take the highest level, a source drives only the slots it
// sent. Internal to the trackers.
#ifndef OMBRIX_PROTOCOLS_SLOT_MERGE_H
#define OMBRIX_PROTOCOLS_SLOT_MERGE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tracking.h"

namespace ombrix::protocols {

struct MergeSource {
  bool eligible = true;             // false: the source drives nothing now
  const uint8_t* levels = nullptr;  // slotCount bytes
  uint16_t slotCount = 0;
  uint8_t priority = 0;  // applies when slotPriorities is null
  // Per-slot priorities: slot i is driven only when i < slotPriorityCount
  // and slotPriorities[i] is not 0; values above 200 count as 200.
  const uint8_t* slotPriorities = nullptr;
  uint16_t slotPriorityCount = 0;
};

// Writes the merged levels and the owners (index into sources; kNoOwner for
// nobody; owner may be null). On equal priority and level the source that
// comes first keeps the slot, so ownership does not flicker. Returns how
// many sources drive at least one slot.
size_t MergeSlots(const std::vector<MergeSource>& sources, uint8_t levels[kSlotCount], int16_t owner[kSlotCount]);

}  // namespace ombrix::protocols

#endif  // OMBRIX_PROTOCOLS_SLOT_MERGE_H
