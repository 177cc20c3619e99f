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

const char* RoleName(ombrix::protocols::SourceRole role, ombrix::protocols::MergeMode mode) {
  using ombrix::protocols::MergeMode;
  using ombrix::protocols::SourceRole;
  if (mode != MergeMode::kBackup) return "";
  return role == SourceRole::kPrimary ? "primary" : role == SourceRole::kBackup ? "backup" : "";
}

}  // namespace

void SacnReceiver::DescribeSources(TimePoint now, std::vector<SourceView>* views) const {
  uint8_t levels[ombrix::protocols::kSlotCount];
  for (const auto& entry : universes_) {
    const Universe& universe = *entry.second;
    SourceView view;
    view.universe = universe.output->universe();
    view.merge = universe.sources.rules().mode;
    view.backup = universe.sources.backupState();
    universe.sources.Merge(levels, view.owners.data(), view.priorities.data());
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
      source.role = RoleName(info.role, view.merge);
      source.awaitingPriorities = info.awaitingPriorities;
      source.lost = info.lost;
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
    view.merge = output.sources.rules().mode;
    view.backup = output.sources.backupState();
    output.sources.Merge(levels, view.owners.data());
    for (const ombrix::protocols::ArtnetSourceInfo& info : output.sources.Sources()) {
      SourceStatus source;
      source.address = info.address;
      source.packets = info.packets;
      source.secondsSinceLast = SecondsSince(info.lastSeen, now);
      source.held = info.held;
      source.role = RoleName(info.role, view.merge);
      source.lost = info.lost;
      view.keys.push_back(info.address);
      view.sources.push_back(std::move(source));
    }
    views->push_back(std::move(view));
  }
}

}  // namespace ombrix_bridge
