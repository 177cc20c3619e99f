// Priority-then-HTP-or-LTP merge over caller-owned buffers.
#include "protocols/slot_merge.h"

#include <array>
#include <cstring>

namespace ombrix::protocols {

void SlotLevels::Store(const uint8_t* data, uint16_t slots, uint64_t* clock) {
  if (slots > kSlotCount) slots = static_cast<uint16_t>(kSlotCount);
  uint64_t stamp = ++*clock;
  for (uint16_t slot = 0; slot < slots; ++slot) {
    if (slot >= count || levels[slot] != data[slot]) changed[slot] = stamp;
  }
  std::memcpy(levels.data(), data, slots);
  count = slots;
}

size_t MergeSlots(const std::vector<MergeSource>& sources, bool latest, uint8_t levels[kSlotCount],
                  const MergeWinners& winners) {
  std::array<int16_t, kSlotCount> bestPriority;
  std::array<uint64_t, kSlotCount> bestChange{};
  bestPriority.fill(-1);
  for (size_t slot = 0; slot < kSlotCount; ++slot) {
    levels[slot] = 0;
    if (winners.owner) winners.owner[slot] = kNoOwner;
  }
  size_t driving = 0;
  for (size_t index = 0; index < sources.size(); ++index) {
    const MergeSource& source = sources[index];
    if (!source.eligible || !source.levels) continue;
    bool drivesAny = false;
    for (size_t slot = 0; slot < source.levels->count; ++slot) {
      int16_t priority = source.priority;
      if (source.slotPriorities) {
        if (slot >= source.slotPriorityCount || source.slotPriorities[slot] == 0) continue;
        priority = source.slotPriorities[slot] > 200 ? 200 : source.slotPriorities[slot];
      }
      drivesAny = true;
      uint8_t level = source.levels->levels[slot];
      uint64_t change = source.levels->changed[slot];
      bool wins = priority > bestPriority[slot] ||
                  (priority == bestPriority[slot] && (latest ? change > bestChange[slot] : level > levels[slot]));
      if (!wins) continue;
      bestPriority[slot] = priority;
      bestChange[slot] = change;
      levels[slot] = level;
      if (winners.owner) winners.owner[slot] = static_cast<int16_t>(index);
    }
    if (drivesAny) ++driving;
  }
  if (winners.priority) {
    for (size_t slot = 0; slot < kSlotCount; ++slot) {
      winners.priority[slot] = bestPriority[slot] < 0 ? 0 : static_cast<uint8_t>(bestPriority[slot]);
    }
  }
  return driving;
}

}  // namespace ombrix::protocols
