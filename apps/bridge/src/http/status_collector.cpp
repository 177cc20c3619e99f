#include "status_collector.h"

#include "artnet_node.h"
#include "protocols/sacn_universe.h"
#include "sacn_receiver.h"

namespace ombrix_bridge {

#ifndef OMBRIX_VERSION
#define OMBRIX_VERSION "unknown"
#endif

StatusSnapshot StatusCollector::Collect(const std::vector<std::unique_ptr<OutputUniverse>>& outputs,
                                        const std::vector<std::unique_ptr<InputStream>>& inputs,
                                        const std::vector<std::unique_ptr<InterfacePort>>& ports,
                                        const SacnReceiver& sacn, const ArtnetNode& artnet, TimePoint now) {
  // After a pause (nobody watched) the last look is too old to tell who left
  // and why: start afresh.
  if (now - lastCollect_ > std::chrono::seconds(1)) present_.clear();
  previousCollect_ = lastCollect_;
  lastCollect_ = now;

  StatusSnapshot snapshot;
  snapshot.version = OMBRIX_VERSION;
  snapshot.uptimeSeconds = std::chrono::duration<double>(now - started_).count();
  snapshot.sequence = ++sequence_;
  std::vector<SourceView> views;
  sacn.DescribeSources(now, &views);
  artnet.DescribeSources(now, &views);
  for (const auto& output : outputs) {
    SourceView* view = nullptr;
    for (SourceView& candidate : views) {
      if (candidate.universe == output->universe()) view = &candidate;
    }
    snapshot.universes.push_back(Universe(*output, view, now));
  }
  for (const auto& input : inputs) {
    SendStatus send;
    send.universe = UniverseText(input->universe());
    send.serial = ombrix_tool::SerialText(input->port()->serial());
    send.packetsPerSecond = rates_.Rate("send " + send.universe + " " + send.serial, input->packets, now);
    snapshot.sends.push_back(std::move(send));
  }
  for (const auto& port : ports) snapshot.interfaces.push_back(Interface(*port, now));
  for (const auto& [address, node] : artnet.subscribers().nodes()) {
    SubscriberStatus subscriber{address.to_string(), node.shortName, {}};
    for (const auto& output : node.outputs)
      subscriber.universes.push_back(UniverseText({Protocol::kArtnet, output.first}));
    snapshot.subscribers.push_back(std::move(subscriber));
  }
  snapshot.identify = artnet.identifying();
  snapshot.lastRemoteChange = artnet.lastRemoteChange();
  snapshot.sacnDrops = sacn.drops().Snapshot();
  snapshot.artnetDrops = artnet.drops().Snapshot();
  rates_.Prune(now);
  return snapshot;
}

UniverseStatus StatusCollector::Universe(const OutputUniverse& output, SourceView* view, TimePoint now) {
  UniverseStatus status;
  status.universe = UniverseText(output.universe());
  status.protocol = output.universe().protocol == Protocol::kSacn ? "sacn" : "artnet";
  status.number = output.universe().number;
  status.packetsPerSecond = rates_.Rate("universe " + status.universe, output.packets, now);
  status.fading = output.fading();
  status.joinError = output.joinError;
  status.levels = output.shown();
  status.owners.fill(ombrix::protocols::kNoOwner);
  status.drops = output.drops.Snapshot();
  for (const InterfacePort* port : output.ports()) status.interfaces.push_back(ombrix_tool::SerialText(port->serial()));
  status.loss = LossPolicyName(output.loss());
  status.state = output.Sampling(now) ? "sampling" : output.failSafe() ? "fail-safe" : "live";
  if (view == nullptr) return status;
  status.merge = ombrix::protocols::MergeModeName(view->merge);
  if (status.state == "live" && view->merge == ombrix::protocols::MergeMode::kBackup) {
    status.state = ombrix::protocols::BackupStateName(view->backup);
  }
  if (status.state == "live" && output.sources == 0) status.state = "no source";
  if (status.state == "none") status.state = "no source";
  status.owners = view->owners;
  status.priorities = view->priorities;
  for (size_t i = 0; i < view->sources.size(); ++i) {
    SourceStatus& source = view->sources[i];
    source.packetsPerSecond = rates_.Rate("source " + status.universe + " " + view->keys[i], source.packets, now);
  }
  std::vector<SourceStatus> gone;
  NoteDepartures(status.universe, *view, now, &gone);
  status.sources = std::move(view->sources);
  for (SourceStatus& source : gone) status.sources.push_back(std::move(source));
  return status;
}

void StatusCollector::NoteDepartures(const std::string& universe, const SourceView& view, TimePoint now,
                                     std::vector<SourceStatus>* gone) {
  std::map<std::string, SourceStatus>& before = present_[universe];
  std::map<std::string, Departed>& departed = departed_[universe];
  std::map<std::string, SourceStatus> after;
  for (size_t i = 0; i < view.sources.size(); ++i) {
    after.emplace(view.keys[i], view.sources[i]);
    departed.erase(view.keys[i]);  // back again
  }
  for (auto& [key, source] : before) {
    if (after.count(key) != 0) continue;
    // Sources leave only by a stream-terminated packet or by falling silent
    // for the protocol's time-out: one that was heard from within the sACN
    // time-out when it went must have terminated its stream.
    double silent = source.secondsSinceLast + std::chrono::duration<double>(now - previousCollect_).count();
    bool sacn = !source.cid.empty();
    bool terminated = sacn && silent < std::chrono::duration<double>(ombrix::protocols::kSacnSourceTimeout).count();
    Departed entry{source, now};
    entry.source.gone = terminated ? "terminated" : "timed-out";
    entry.source.packetsPerSecond = 0;
    departed[key] = entry;
  }
  before = std::move(after);
  for (auto it = departed.begin(); it != departed.end();) {
    if (now - it->second.left > kGoneShownFor) {
      it = departed.erase(it);
      continue;
    }
    SourceStatus source = it->second.source;
    source.secondsSinceLast += std::chrono::duration<double>(now - it->second.left).count();
    gone->push_back(std::move(source));
    ++it;
  }
}

InterfaceStatus StatusCollector::Interface(const InterfacePort& port, TimePoint now) {
  InterfaceStatus status;
  status.serial = ombrix_tool::SerialText(port.serial());
  status.connected = port.connected();
  // The type is asked once per connection (asking walks the attached
  // devices); the last one known stays shown while the interface is away.
  KnownType& known = types_[status.serial];
  if (status.connected && !known.connected) {
    int type = api_.GetDeviceTyp(port.serial().data());
    if (type != 0) known.type = type;
  }
  known.connected = status.connected;
  status.type = known.type;
  status.mode = ModeFor(config_, port.serial());
  status.output = port.drivesOutput();
  status.input = port.readsInput();
  status.reportsOutPerSecond = rates_.Rate("blocks out " + status.serial, port.blocksChanged(), now);
  status.inputBlocksPerSecond = rates_.Rate("blocks in " + status.serial, port.inputBlocks(), now);
  return status;
}

}  // namespace ombrix_bridge
