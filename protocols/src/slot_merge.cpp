// Highest-priority-then-highest-level merge over caller-owned buffers.
#include "protocols/slot_merge.h"

#include <array>

namespace ombrix::protocols {

size_t MergeSlots(const std::vector<MergeSource>& sources, uint8_t levels[kSlotCount], int16_t owner[kSlotCount]) {
  std::array<int16_t, kSlotCount> bestPriority;
  bestPriority.fill(-1);
  for (size_t slot = 0; slot < kSlotCount; ++slot) {
    levels[slot] = 0;
    if (owner) owner[slot] = kNoOwner;
  }
  size_t driving = 0;
  for (size_t index = 0; index < sources.size(); ++index) {
    const MergeSource& source = sources[index];
    if (!source.eligible || !source.levels) continue;
    bool drivesAny = false;
    size_t slots = source.slotCount < kSlotCount ? source.slotCount : kSlotCount;
    for (size_t slot = 0; slot < slots; ++slot) {
      int16_t priority = source.priority;
      if (source.slotPriorities) {
        if (slot >= source.slotPriorityCount || source.slotPriorities[slot] == 0) continue;
        priority = source.slotPriorities[slot] > 200 ? 200 : source.slotPriorities[slot];
      }
      drivesAny = true;
      uint8_t level = source.levels[slot];
      if (priority > bestPriority[slot] || (priority == bestPriority[slot] && level > levels[slot])) {
        bestPriority[slot] = priority;
        levels[slot] = level;
        if (owner) owner[slot] = static_cast<int16_t>(index);
      }
    }
    if (drivesAny) ++driving;
  }
  return driving;
}

}  // namespace ombrix::protocols
