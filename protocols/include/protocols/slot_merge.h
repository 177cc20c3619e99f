// The per-slot merge both trackers use: highest priority wins, and among
// equal priorities the highest level (HTP) or the level that changed last
// (LTP); a source drives only the slots it sent. Internal to the trackers.
#ifndef OMBRIX_PROTOCOLS_SLOT_MERGE_H
#define OMBRIX_PROTOCOLS_SLOT_MERGE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tracking.h"

namespace ombrix::protocols {

// A source's levels with the moment each slot last changed, counted in
// stores of the universe (not time: two packets in one clock tick must
// still be ordered).
struct SlotLevels {
  std::array<uint8_t, kSlotCount> levels{};
  std::array<uint64_t, kSlotCount> changed{};
  uint16_t count = 0;
  // Stores count slots of data; every slot that differs from before, or
  // was not sent before, is stamped with ++*clock.
  void Store(const uint8_t* data, uint16_t count, uint64_t* clock);
};

struct MergeSource {
  bool eligible = true;  // false: the source drives nothing now
  const SlotLevels* levels = nullptr;
  uint8_t priority = 0;  // applies when slotPriorities is null
  // Per-slot priorities: slot i is driven only when i < slotPriorityCount
  // and slotPriorities[i] is not 0; values above 200 count as 200.
  const uint8_t* slotPriorities = nullptr;
  uint16_t slotPriorityCount = 0;
};

// What the merge writes besides the levels; every pointer may be null.
struct MergeWinners {
  int16_t* owner = nullptr;     // index into the sources, or kNoOwner
  uint8_t* priority = nullptr;  // the winner's priority for the slot (0 for nobody)
};

// Writes the merged levels and the winners. latest: equal priorities take
// the level that changed last rather than the highest. On a full tie the
// source that comes first keeps the slot, so ownership does not flicker.
// Returns how many sources drive at least one slot.
size_t MergeSlots(const std::vector<MergeSource>& sources, bool latest, uint8_t levels[kSlotCount],
                  const MergeWinners& winners);

}  // namespace ombrix::protocols

#endif  // OMBRIX_PROTOCOLS_SLOT_MERGE_H
