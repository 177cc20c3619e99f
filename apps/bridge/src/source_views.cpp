// What the page shows of each receiver's universes: sources as they are now
// and the owner of every slot, from the same merge rules that drive the
// outputs. Runs only while the page is watched, at the page's rate. The
// receivers' members live here, in their own folder, so that everything
// the page asks of them is in one file.
#include "http/source_view.h"

#include <chrono>
#include <cstdio>

#include "artnet_node.h"
#include "sacn_receiver.h"

namespace ombrix_bridge {
namespace {

double SecondsSince(TimePoint then, TimePoint now) {
  return then == TimePoint{} ? 0.0 : std::chrono::duration<double>(now - then).count();
}

}  // namespace

void SacnReceiver::DescribeSources(TimePoint now, std::vector<SourceView>* views) const {
  uint8_t levels[ombrix::protocols::kSlotCount];
  for (const auto& entry : universes_) {
    const Universe& universe = *entry.second;
    SourceView view;
    view.universe = universe.output->universe();
    universe.sources.Merge(levels, view.owners.data());
    for (const ombrix::protocols::SacnSourceInfo& info : universe.sources.Sources()) {
      SourceStatus source;
      source.name = info.name;
      source.cid = CidText(info.cid);
      source.address = info.address;
      source.priority = info.priority;
      source.perSlotPriority = info.perSlotPriority;
      source.packets = info.packets;
      source.sequenceErrors = info.sequenceErrors;
      source.secondsSinceLast = SecondsSince(info.lastSeen, now);
      source.preview = info.preview;
      source.held = info.held;
      view.keys.push_back(source.cid);
      view.sources.push_back(std::move(source));
    }
    views->push_back(std::move(view));
  }
}

void ArtnetNode::DescribeSources(TimePoint now, std::vector<SourceView>* views) const {
  uint8_t levels[ombrix::protocols::kSlotCount];
  for (const auto& entry : outputs_) {
    const Output& output = *entry.second;
    SourceView view;
    view.universe = output.output->universe();
    output.sources.Merge(levels, view.owners.data());
    for (const ombrix::protocols::ArtnetSourceInfo& info : output.sources.Sources()) {
      SourceStatus source;
      source.address = info.address;
      source.packets = info.packets;
      source.secondsSinceLast = SecondsSince(info.lastSeen, now);
      source.held = info.held;
      view.keys.push_back(info.address);
      view.sources.push_back(std::move(source));
    }
    views->push_back(std::move(view));
  }
}

}  // namespace ombrix_bridge
