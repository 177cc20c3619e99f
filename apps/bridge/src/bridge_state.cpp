// The bridge's side of the node state: read at start and applied over the
// configuration, written when a console changes the node or scenes are
// recorded.
#include "bridge.h"

namespace ombrix_bridge {

using Clock = ombrix::protocols::Clock;

void Bridge::LoadState() {
  if (config_.stateFile.empty()) return;
  std::string error;
  if (!LoadNodeState(config_.stateFile, &state_, &error)) {
    LogLine(error);
    state_ = NodeState();
  }
}

void Bridge::ApplyState() {
  artnetNode_->Name(state_.shortName, state_.longName);
  std::vector<NodeState::Output> kept;
  for (const NodeState::Output& saved : state_.outputs) {
    OutputUniverse* output = nullptr;
    for (const auto& candidate : outputs_) {
      if (candidate->configured() == saved.configured) output = candidate.get();
    }
    if (output == nullptr) {
      LogLine("state: " + UniverseText(saved.configured) +
              " is no longer received here; its saved settings are dropped");
      continue;
    }
    kept.push_back(saved);
    std::string error;
    bool artnet = saved.configured.protocol == Protocol::kArtnet;
    if (saved.patch && artnet && !artnetNode_->RepatchOutput(output->universe().number, saved.patch->number, &error)) {
      LogLine("state: " + UniverseText(saved.configured) + " not re-patched: " + error);
    }
    if (saved.merge && artnet) {
      ombrix::protocols::MergeRules rules = SettingsFor(config_, saved.configured).merge;
      rules.mode = *saved.merge;
      artnetNode_->SetMergeRules(output->universe().number, rules, Clock::now());
    }
    if (saved.loss) {
      output->SetLoss(*saved.loss);
      if (artnet) artnetNode_->SetLoss(*saved.loss);
    }
    if (saved.scene) output->SetScene(*saved.scene);
  }
  state_.outputs = kept;
  for (const NodeState::Input& saved : state_.inputs) {
    if (saved.configured.protocol != Protocol::kArtnet || saved.patch.protocol != Protocol::kArtnet) continue;
    std::string error;
    if (!artnetNode_->RepatchInput(saved.configured.number, saved.patch.number, &error)) {
      LogLine("state: input " + UniverseText(saved.configured) + " not re-patched: " + error);
    }
  }
  if (!state_.outputs.empty() || !state_.inputs.empty() || !state_.shortName.empty() || !state_.longName.empty()) {
    LogLine("state: applied what consoles changed before, from " + config_.stateFile);
  }
}

void Bridge::SaveState() {
  if (config_.stateFile.empty()) {
    if (!stateUnsavedTold_) LogLine("warning: remote changes are not kept across a restart: give --state FILE");
    stateUnsavedTold_ = true;
    return;
  }
  std::string error;
  if (!SaveNodeState(config_.stateFile, state_, &error)) LogLine(error);
}

void Bridge::InputRepatched(uint16_t from, uint16_t to) {
  for (const auto& input : inputs_) {
    if (input->universe() == NetworkUniverse{Protocol::kArtnet, from}) input->Renumber({Protocol::kArtnet, to});
  }
}

void Bridge::RecordScenesWhenDriven(TimePoint now) {
  bool allDriven = true;
  for (const auto& output : outputs_) allDriven = allDriven && output->everDriven();
  if (!allDriven && now - started_ < std::chrono::seconds(10)) return;
  scenesPending_ = false;
  size_t recorded = 0;
  for (const auto& output : outputs_) {
    if (!output->everDriven()) {
      LogLine("record scene: " + UniverseText(output->universe()) + " had no source; its scene is not recorded");
      continue;
    }
    output->RecordScene();
    state_.OutputFor(output->configured()).scene = output->shown();
    ++recorded;
  }
  SaveState();
  LogLine("record scene: the looks of " + std::to_string(recorded) +
          " universe(s) are their fail-safe scenes, kept in " + config_.stateFile);
}

}  // namespace ombrix_bridge
