// Sources and merge of one sACN universe.
//
// Fed with parsed packets and the time they arrived; writes the merged
// levels and the owner of every slot into buffers the caller owns. The
// rules, from E1.31:
//   - Sources are told apart by CID. Per source, a data packet whose sequence
//     number minus the last accepted one, taken as a signed 8-bit value, is
//     0 or negative but above -20 is dropped (kOutOfSequence); -20 and below
//     count as a restart and are accepted.
//   - A source silent for 2.5 s (kSacnSourceTimeout), or one that sends
//     stream terminated, leaves at once; the data of a terminating packet is
//     not used.
//   - Preview packets never drive the output (kPreview), but keep their
//     source present for the status display.
//   - Start code 0x00 carries levels; 0xDD carries per-slot priorities (0:
//     the source does not drive that slot; above 200 counts as 200), which
//     replace the universe priority until no 0xDD packet has come for 2.5 s.
//     A new source's levels wait up to 1.5 s (kSacnPrioritiesWait) for its
//     first 0xDD packet, so that a console that claims only some slots never
//     drives the others for a moment at its universe priority. Any other
//     start code is kOtherStartCode.
//   - Time-outs settle: sources that time out within kSourceLossWindow of
//     each other leave together, and keep their last levels until then.
//   - Merge: per slot, among the sources that drive it, the highest priority
//     wins; sources of equal top priority merge by the universe's MergeRules
//     (merge_mode.h): highest level, latest change, the primary or backup
//     desk alone, or the named sources only. A source that sent fewer than
//     512 slots drives only those.
//   - Synchronisation: data with a non-zero sync address is held until a
//     sync packet for that address comes from the same source. A source
//     whose sync packets never came applies its data at once after 2.5 s
//     (it was never synchronised). A source that was synchronised and then
//     got no sync packet for 2.5 s has lost synchronisation (event
//     kSyncLost); then Force_Synchronization (options bit 5) decides, as
//     E1.31-2018 has it: 0, the output does not change until sync packets
//     resume (the newest data stays held); 1, data is applied as it comes.
//     A new sync address starts the wait for its sync packets afresh. A data
//     packet with sync address 0 discards held data.
// The bridge must join the sync universe's multicast group to see the sync
// packets: SacnSourceInfo::syncAddress says which one a source uses. Sync
// packets are not checked for sequence: a late or repeated one can only
// release data that is already held, a moment early at worst.
//
// Not thread-safe: one thread feeds, expires and merges a universe (the
// bridge's receive thread); anything another thread wants, it copies out.
#ifndef OMBRIX_PROTOCOLS_SACN_UNIVERSE_H
#define OMBRIX_PROTOCOLS_SACN_UNIVERSE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drops.h"
#include "merge_mode.h"
#include "sacn_packet.h"
#include "slot_merge.h"
#include "tracking.h"

namespace ombrix::protocols {

constexpr std::chrono::milliseconds kSacnSourceTimeout{2500};
constexpr size_t kSacnDefaultSourceLimit = 16;
constexpr std::chrono::milliseconds kSacnPrioritiesWait{1500};

// What a status display shows about one source.
struct SacnSourceInfo {
  Cid cid{};
  std::string name;                      // printable: control characters and invalid UTF-8 replaced by '?'
  std::string address;                   // as passed to OnData (the sender's address, opaque here)
  uint8_t priority = 0;                  // universe priority of the last accepted packet
  bool perSlotPriority = false;          // 0xDD priorities in force
  bool preview = false;                  // last accepted packet was preview data
  bool held = false;                     // data waiting for a sync packet
  uint16_t syncAddress = 0;              // of the last accepted data packet
  uint16_t slotCount = 0;                // slots the source drives (0 before its first levels)
  SourceRole role = SourceRole::kOther;  // under the universe's merge rules
  bool awaitingPriorities = false;       // new: levels wait for a first 0xDD packet
  bool lost = false;                     // timed out; leaves with its loss batch
  uint64_t packets = 0;                  // data packets accepted, all start codes
  uint64_t sequenceErrors = 0;           // data packets dropped as out of sequence
  TimePoint firstSeen{};
  TimePoint lastSeen{};
};

class SacnUniverse {
 public:
  // prioritiesWait: how long a new source's levels wait for its first
  // 0xDD packet (0: not at all).
  explicit SacnUniverse(uint16_t universe, size_t sourceLimit = kSacnDefaultSourceLimit,
                        std::chrono::milliseconds prioritiesWait = kSacnPrioritiesWait);

  uint16_t universe() const { return universe_; }

  // How the sources merge (default: HTP, every source). Roles are worked
  // out again for the present sources; in "only" mode a present source the
  // rules do not name leaves at once.
  void SetRules(const MergeRules& rules, TimePoint now);
  const MergeRules& rules() const { return rules_; }
  // Backup mode: which desk the output shows.
  BackupSwitch::State backupState() const { return backup_.state(); }
  // The end of a sampling period, in which nothing was shown: the desk is
  // chosen afresh from the sources present (the primary first), with no
  // takeback from a backup that was only heard.
  void RestartSelection(TimePoint now) {
    backup_ = BackupSwitch();
    ++generation_;
    Reselect(now);
  }

  // A data packet for this universe (the caller routes by packet.universe;
  // another universe is kNotConfigured). address identifies the sender for
  // display only. Returns the reason the packet does not drive the output,
  // or nothing when it was taken (levels or priorities stored, or held for
  // sync). A stream-terminated packet returns nothing and removes the source.
  std::optional<DropKind> OnData(const SacnData& packet, std::string_view address, TimePoint now);

  // A sync packet; the bridge passes every sync packet to every universe.
  void OnSync(const SacnSync& packet, TimePoint now);

  // Applies the time-outs: sources silent for 2.5 s are lost and leave
  // with their loss batch, per-slot priorities not refreshed for 2.5 s
  // lapse, the wait for a first 0xDD packet ends, held data whose sync
  // packets stopped is released, and a backup universe takes its primary
  // back. Call at least every 100 ms or so.
  void Expire(TimePoint now);

  // Writes the merged level of every slot into levels and the index in
  // Sources() of the slot's owner, or kNoOwner, into owner (may be null).
  // Slots nobody drives get level 0. Returns the number of sources that
  // drive at least one slot: 0 means the universe has lost all its sources
  // (the caller decides whether to hold the last look or fade).
  // priority (may be null) gets each slot's winning priority, per-slot or
  // the universe's.
  size_t Merge(uint8_t levels[kSlotCount], int16_t owner[kSlotCount], uint8_t priority[kSlotCount] = nullptr) const;

  // Bumped whenever a merge could give a different result (levels,
  // priorities, sources joining or leaving, held data released), so the
  // caller merges only when it changed.
  uint64_t generation() const { return generation_; }

  // Present sources, in the order they joined. Indices match Merge's owner
  // values until the next call of OnData, OnSync or Expire.
  std::vector<SacnSourceInfo> Sources() const;
  size_t SourceCount() const { return sources_.size(); }
  // When the last of the waits for a first 0xDD packet ends, or nothing
  // when no source is waiting.
  std::optional<TimePoint> PrioritiesWaitEnd() const;

  // Joins, time-outs, terminations and sync losses since the last call.
  std::vector<SourceEvent> TakeEvents() { return events_.Take(); }

 private:
  // How a source's held (synchronised) data is treated.
  enum class SyncState : uint8_t {
    kNone,      // data not synchronised
    kAwaiting,  // holding data, no sync packet seen yet (since syncSince)
    kLocked,    // sync packets arriving (last at syncSince)
    kFallback,  // no sync packet ever came: data applied at once until one does
    kLost,      // sync packets stopped after they had come (force sync decides)
  };
  struct Source {
    SacnSourceInfo info;
    std::string rawName;  // as last received, to notice a change cheaply
    std::string cidText;  // the CID as the rules name it
    uint8_t lastSequence = 0;
    SlotLevels levels;
    std::array<uint8_t, kSlotCount> slotPriorities{};
    uint16_t slotPriorityCount = 0;  // 0: the universe priority applies
    TimePoint slotPrioritiesSeen{};
    std::array<uint8_t, kSlotCount> heldLevels{};
    uint16_t heldCount = 0;
    bool holding = false;
    bool forceSync = false;
    SyncState syncState = SyncState::kNone;
    TimePoint syncSince{};
  };
  void Remove(size_t index, SourceEvent::Kind why, TimePoint now);
  Source* Find(const Cid& cid);
  Source* Add(const SacnData& packet, std::string_view address, TimePoint now);
  std::optional<DropKind> TakeLevels(Source& source, const SacnData& packet, TimePoint now);
  void ApplyHeld(Source& source);
  void UpdateSyncTimeouts(Source& source, TimePoint now);
  void StoreLevels(Source& source, const uint8_t* slots, uint16_t count);
  void AssignRole(Source& source);
  // Whether the source has levels the merge may take, whatever its role.
  static bool Ready(const Source& source);
  // Moves the backup switch on from the present sources.
  void Reselect(TimePoint now);
  void RemoveLostBatch(TimePoint now);

  uint16_t universe_;
  size_t sourceLimit_;
  std::chrono::milliseconds prioritiesWait_;
  MergeRules rules_;
  BackupSwitch backup_;
  LossBatch lossBatch_;
  uint64_t changeClock_ = 0;  // stamps level changes for LTP
  std::vector<Source> sources_;
  uint64_t generation_ = 0;
  SourceEventLog events_;
};

}  // namespace ombrix::protocols

#endif  // OMBRIX_PROTOCOLS_SACN_UNIVERSE_H
