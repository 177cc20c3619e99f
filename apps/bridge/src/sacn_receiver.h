// sACN in: datagrams from the sACN socket, checked, routed to the sources
// and merge of their universe, and the merged levels handed to the
// universe's outputs. Datagrams that are refused are counted by kind: those
// that name a configured universe on that universe, the rest on the
// receiver.
//
// Bridge thread only.
#ifndef OMBRIX_BRIDGE_SACN_RECEIVER_H
#define OMBRIX_BRIDGE_SACN_RECEIVER_H

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "allow_list.h"
#include "desk_choice.h"
#include "output_universe.h"
#include "protocols/sacn_universe.h"
#include "udp_socket.h"

namespace ombrix_bridge {

struct SourceView;  // http/source_view.h

class SacnReceiver {
 public:
  using Log = std::function<void(const std::string&)>;
  // join: multicast groups are joined (false: unicast only).
  // prioritiesWait: how long a new source's levels wait for its first
  // per-slot priorities (a player of recorded shows takes them as they come).
  SacnReceiver(UdpSocket* socket, const AllowList* allow, bool join, Log log,
               std::chrono::milliseconds prioritiesWait = ombrix::protocols::kSacnPrioritiesWait)
      : socket_(socket), allow_(allow), join_(join), log_(std::move(log)), prioritiesWait_(prioritiesWait) {}

  // Adds a universe to receive (joining its group) and feed output.
  void AddUniverse(OutputUniverse* output, const ombrix::protocols::MergeRules& rules);
  // A CID of our own: its packets, looped back by multicast, are ignored.
  void IgnoreSource(const ombrix::protocols::Cid& cid) { own_.insert(cid); }
  void OnDatagram(const uint8_t* data, size_t size, const Endpoint& sender, TimePoint now);
  // Time-outs, fades, and leaving the sync groups no source uses any more;
  // call every few tens of milliseconds.
  void Tick(TimePoint now);

  const ombrix::protocols::DropCounters& drops() const { return drops_; }
  // Sources and slot owners of every universe, for the status page.
  void DescribeSources(TimePoint now, std::vector<SourceView>* views) const;
  // Multicast groups joined now (universes and sync groups).
  const std::set<uint16_t>& joinedGroups() const { return joined_; }

 private:
  struct Universe {
    ombrix::protocols::SacnUniverse sources;
    OutputUniverse* output;
    uint64_t merged = 0;  // generation of the last merge written
    DeskChoice desk;
  };
  void Merge(Universe& universe, TimePoint now);
  // Joins a universe's group; on failure the reason goes on reportTo's
  // status (and once in the log) and false is returned.
  bool Join(uint16_t group, Universe* reportTo);
  // Leaves the sync groups no present source names any more.
  void LeaveUnusedSyncGroups();
  void LogEvents(Universe& universe);

  UdpSocket* socket_;
  const AllowList* allow_;
  bool join_;
  Log log_;
  std::chrono::milliseconds prioritiesWait_;
  std::map<uint16_t, std::unique_ptr<Universe>> universes_;
  std::set<uint16_t> joined_;      // groups joined, configured universes and sync groups
  std::set<uint16_t> syncGroups_;  // those joined only because a source syncs on them
  std::set<ombrix::protocols::Cid> own_;
  TimePoint lastSyncCheck_{};
  ombrix::protocols::DropCounters drops_;
};

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_SACN_RECEIVER_H
