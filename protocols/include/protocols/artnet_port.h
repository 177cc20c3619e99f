// Sources and merge of one Art-Net output port (one 15-bit port-address).
//
// Art-Net tells sources apart by IP address and Physical port: two ports
// of one controller sending the same port-address are two sources. The
// rules, from Art-Net 4:
//   - Per source, ArtDmx whose non-zero sequence is at most 19 behind the
//     last accepted non-zero one (or equal to it) is stale and dropped
//     (kOutOfSequence), as sACN does; sequence 0 means the sender does not
//     number its packets and is never checked.
//   - Up to two sources merge per slot by the port's MergeRules
//     (merge_mode.h): highest level (HTP, the default) or latest change
//     (LTP), the primary or backup desk alone, or the named sources only;
//     data from a third is dropped (kSourceLimit) while two are present. A
//     source drives only the slots its ArtDmx length covers. Sources are
//     named by address, or "address/physical".
//   - Cancel merge (from ArtAddress): the sender of the next ArtDmx becomes
//     the only source; the others are dropped (kNotSelected) until they
//     have been silent for the source time-out.
//   - A source silent for 10 s (kArtnetSourceTimeout) is lost; sources lost
//     within kSourceLossWindow of each other leave together.
//   - ArtSync: a node that receives ArtSync is in synchronous mode; while
//     it is, ArtDmx from the sender of the last ArtSync is held until the
//     next ArtSync from that sender. The node leaves synchronous mode when
//     no ArtSync has come for 4 s (kArtnetSyncTimeout), and held data is
//     then output at once. While the port merges two sources, ArtSync is
//     ignored and data is output as it comes, as Art-Net 4 asks. ArtSync
//     from any other address than the data's sender does not release it.
//
// Not thread-safe: one thread feeds, expires and merges a port.
#ifndef OMBRIX_PROTOCOLS_ARTNET_PORT_H
#define OMBRIX_PROTOCOLS_ARTNET_PORT_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "artnet_packet.h"
#include "drops.h"
#include "merge_mode.h"
#include "slot_merge.h"
#include "tracking.h"

namespace ombrix::protocols {

constexpr std::chrono::seconds kArtnetSourceTimeout{10};
constexpr std::chrono::seconds kArtnetSyncTimeout{4};
constexpr size_t kArtnetMergeSources = 2;

struct ArtnetSourceInfo {
  std::string address;   // the sender's IP address as the caller passed it
  uint8_t physical = 0;  // the sender's Physical port
  uint16_t slotCount = 0;
  bool held = false;                     // data waiting for ArtSync
  SourceRole role = SourceRole::kOther;  // under the port's merge rules
  bool lost = false;                     // timed out; leaves with its loss batch
  uint64_t packets = 0;
  uint64_t sequenceErrors = 0;  // ArtDmx dropped as out of sequence
  TimePoint firstSeen{};
  TimePoint lastSeen{};
};

class ArtnetPort {
 public:
  explicit ArtnetPort(uint16_t portAddress);

  uint16_t portAddress() const { return portAddress_; }
  // A re-patch: the port takes ArtDmx for another port-address from now
  // on. Its sources stay until they time out, so a desk that follows the
  // re-patch within the time-out is not seen to leave.
  void SetPortAddress(uint16_t portAddress) { portAddress_ = portAddress; }

  // As SacnUniverse::SetRules.
  void SetRules(const MergeRules& rules, TimePoint now);
  const MergeRules& rules() const { return rules_; }
  BackupSwitch::State backupState() const { return backup_.state(); }
  // As SacnUniverse::RestartSelection.
  void RestartSelection(TimePoint now) {
    backup_ = BackupSwitch();
    ++generation_;
    Reselect(now);
  }
  // The sender of the next ArtDmx becomes the only source.
  void CancelMerge() { cancelMerge_ = true; }

  // An ArtDmx for this port-address (another one is kNotConfigured).
  // address must identify the sender's IP address only (not its UDP port),
  // e.g. "10.0.0.5". Returns why the packet does not drive the output, or
  // nothing when it was taken (stored or held for ArtSync).
  std::optional<DropKind> OnDmx(const ArtDmx& packet, std::string_view address, TimePoint now);

  // An ArtSync from address; the bridge passes every ArtSync to every port.
  void OnSync(std::string_view address, TimePoint now);

  // Removes sources silent for 10 s; outputs held data when ArtSync has
  // stopped for 4 s. Call at least every 100 ms or so.
  void Expire(TimePoint now);

  // As SacnUniverse::Merge: winning level and owner (index into Sources(),
  // or kNoOwner) of every slot; returns the number of sources driving at
  // least one slot.
  size_t Merge(uint8_t levels[kSlotCount], int16_t owner[kSlotCount]) const;

  bool merging() const { return sources_.size() >= 2; }
  uint64_t generation() const { return generation_; }
  std::vector<ArtnetSourceInfo> Sources() const;
  size_t SourceCount() const { return sources_.size(); }
  std::vector<SourceEvent> TakeEvents() { return events_.Take(); }

 private:
  struct Source {
    ArtnetSourceInfo info;
    SlotLevels levels;
    std::array<uint8_t, kSlotCount> heldLevels{};
    uint16_t heldCount = 0;
    uint8_t lastSequence = 0;  // 0: none numbered yet
  };
  // A sender set aside by cancel merge, until silent for the time-out.
  struct Excluded {
    std::string address;
    uint8_t physical = 0;
    TimePoint lastSeen{};
  };
  bool Synchronous(std::string_view sender, TimePoint now) const;
  void ApplyHeld(Source& source);
  void StoreLevels(Source& source, const uint8_t* data, uint16_t count);
  void AssignRole(Source& source) const;
  bool Excludes(std::string_view address, uint8_t physical, TimePoint now);
  void TakeOnly(const Source& kept, TimePoint now);
  void Reselect(TimePoint now);

  uint16_t portAddress_;
  MergeRules rules_;
  BackupSwitch backup_;
  LossBatch lossBatch_;
  uint64_t changeClock_ = 0;  // stamps level changes for LTP
  bool cancelMerge_ = false;  // the next ArtDmx's sender becomes the only source
  std::vector<Excluded> excluded_;
  std::vector<Source> sources_;
  std::string syncSender_;  // address of the last ArtSync; empty: none yet
  TimePoint lastSync_{};
  uint64_t generation_ = 0;
  SourceEventLog events_;
};

}  // namespace ombrix::protocols

#endif  // OMBRIX_PROTOCOLS_ARTNET_PORT_H
