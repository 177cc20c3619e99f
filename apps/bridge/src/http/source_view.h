// The sources and slot owners of each received universe, as the sACN
// receiver and the Art-Net node describe them for the status page. The
// receivers' DescribeSources members are defined in src/source_views.cpp,
// beside the receivers, so that what the page needs from them stays in one
// place.
//
// Bridge thread only.
#ifndef OMBRIX_BRIDGE_HTTP_SOURCE_VIEW_H
#define OMBRIX_BRIDGE_HTTP_SOURCE_VIEW_H

#include <array>
#include <string>
#include <vector>

#include "bridge_config.h"
#include "protocols/merge_mode.h"
#include "protocols/sacn_packet.h"
#include "status_snapshot.h"

namespace ombrix_bridge {

struct SourceView {
  NetworkUniverse universe;
  // Present sources in merge order; rates and gone are left for the
  // collector, which keeps history.
  std::vector<SourceStatus> sources;
  // What tells a source apart across snapshots: its CID (sACN) or its
  // address (Art-Net); one per entry of sources.
  std::vector<std::string> keys;
  std::array<int16_t, ombrix::protocols::kSlotCount> owners{};
  std::array<uint8_t, ombrix::protocols::kSlotCount> priorities{};
  ombrix::protocols::MergeMode merge = ombrix::protocols::MergeMode::kHtp;
  ombrix::protocols::BackupSwitch::State backup = ombrix::protocols::BackupSwitch::State::kNone;
};

// "6ba7b810-9dad-11d1-80b4-00c04fd430c8".
using ombrix::protocols::CidText;

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_HTTP_SOURCE_VIEW_H
