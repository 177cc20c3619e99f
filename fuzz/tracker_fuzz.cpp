// The source trackers driven by a script the fuzzer writes: each input is a
// run of operations (sACN data or sync, Art-Net data or ArtSync, time
// passing, time-outs applied), every packet built, parsed and fed as the
// bridge would, and merge rules changed on the way. After each step the
// merge results and the source lists must hold together: every owner a
// present source, unowned slots at 0, no more sources than the limits,
// every source past its time-out lost.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

#include "fuzz_check.h"
#include "protocols/artnet_port.h"
#include "protocols/sacn_universe.h"

using namespace ombrix::protocols;

namespace {

// Reads the script; past its end every read gives 0.
class Script {
 public:
  Script(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool done() const { return position_ >= size_; }
  uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() << 8 | Byte()); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

constexpr size_t kSacnSourceLimit = 3;
const char* const kAddresses[] = {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"};

struct World {
  SacnUniverse universe{1, kSacnSourceLimit};
  ArtnetPort port{0x0001};
  TimePoint now = TimePoint(std::chrono::hours(1));
  std::array<uint8_t, kSlotCount> slots{};
  std::array<uint8_t, kSacnMaxPacketSize> datagram{};
};

void FillSlots(World& world, Script& script, size_t count) {
  uint8_t pattern = script.Byte();
  for (size_t i = 0; i < count; ++i) world.slots[i] = static_cast<uint8_t>(pattern + i * script.Byte() % 7);
}

void SendSacnData(World& world, Script& script) {
  uint8_t source = script.Byte();
  uint8_t flags = script.Byte();
  SacnData data;
  data.cid.fill(static_cast<uint8_t>(source & 3));
  data.sourceName = kAddresses[source & 3];
  data.sequence = script.Byte();
  data.priority = script.Byte();
  data.preview = flags & 0x01;
  data.streamTerminated = flags & 0x02;
  data.forceSync = flags & 0x04;
  data.syncAddress = (flags & 0x08) ? 7 : 0;
  data.universe = (flags & 0x10) ? 2 : 1;
  data.startCode = (flags & 0x20) ? kStartCodePerSlotPriority : (flags & 0x40) ? 0x17 : 0;
  data.slotCount = static_cast<uint16_t>(script.Word() % (kSlotCount + 1));
  FillSlots(world, script, data.slotCount);
  data.slots = world.slots.data();
  size_t size = BuildSacnData(data, world.datagram.data(), world.datagram.size());
  if (size == 0) return;  // a priority above 200: nothing we would send or accept
  SacnPacket packet = ParseSacn(world.datagram.data(), size);
  const SacnData* parsed = std::get_if<SacnData>(&packet);
  FUZZ_CHECK(parsed);
  world.universe.OnData(*parsed, kAddresses[source & 3], world.now);
}

void SendSacnSync(World& world, Script& script) {
  uint8_t source = script.Byte();
  SacnSync sync;
  sync.cid.fill(static_cast<uint8_t>(source & 3));
  sync.sequence = script.Byte();
  sync.syncAddress = (source & 0x10) ? 8 : 7;
  size_t size = BuildSacnSync(sync, world.datagram.data(), world.datagram.size());
  SacnPacket packet = ParseSacn(world.datagram.data(), size);
  const SacnSync* parsed = std::get_if<SacnSync>(&packet);
  FUZZ_CHECK(parsed);
  world.universe.OnSync(*parsed, world.now);
}

void SendArtDmx(World& world, Script& script) {
  uint8_t source = script.Byte();
  ArtDmx dmx;
  dmx.sequence = script.Byte();
  dmx.portAddress = (source & 0x10) ? 0x0002 : 0x0001;
  dmx.length = static_cast<uint16_t>(2 * (1 + script.Word() % 256));
  FillSlots(world, script, dmx.length);
  dmx.data = world.slots.data();
  size_t size = BuildArtDmx(dmx, world.datagram.data(), world.datagram.size());
  ArtnetPacket packet = ParseArtnet(world.datagram.data(), size);
  const ArtDmx* parsed = std::get_if<ArtDmx>(&packet);
  FUZZ_CHECK(parsed && parsed->length == dmx.length);
  world.port.OnDmx(*parsed, kAddresses[source & 3], world.now);
}

template <typename Tracker>
void CheckMerge(const Tracker& tracker) {
  std::array<uint8_t, kSlotCount> levels{};
  std::array<int16_t, kSlotCount> owner{};
  size_t driving = tracker.Merge(levels.data(), owner.data());
  size_t sources = tracker.SourceCount();
  FUZZ_CHECK(driving <= sources);
  bool anyOwned = false;
  for (size_t slot = 0; slot < kSlotCount; ++slot) {
    FUZZ_CHECK(owner[slot] == kNoOwner || (owner[slot] >= 0 && static_cast<size_t>(owner[slot]) < sources));
    if (owner[slot] == kNoOwner) FUZZ_CHECK(levels[slot] == 0);
    anyOwned = anyOwned || owner[slot] != kNoOwner;
  }
  FUZZ_CHECK(anyOwned == (driving > 0));
}

// Sources past their time-out are lost (they leave with their loss batch,
// within kSourceLossWindow); none is lost before its time.
void CheckAfterExpire(World& world) {
  for (const SacnSourceInfo& source : world.universe.Sources()) {
    FUZZ_CHECK(source.lost == (world.now - source.lastSeen >= kSacnSourceTimeout));
  }
  for (const ArtnetSourceInfo& source : world.port.Sources()) {
    FUZZ_CHECK(source.lost == (world.now - source.lastSeen >= kArtnetSourceTimeout));
  }
}

// New merge rules for both trackers, naming sources by address, name or
// "address/physical"; or a cancelled Art-Net merge.
void ChangeRules(World& world, Script& script) {
  uint8_t choice = script.Byte();
  if (choice & 0x80) {
    world.port.CancelMerge();
    return;
  }
  MergeRules rules;
  rules.mode = static_cast<MergeMode>(choice % 4);
  rules.primary = {kAddresses[(choice >> 2) & 3]};
  rules.backup = {std::string(kAddresses[(choice >> 4) & 3]) + ((choice & 0x40) ? "/0" : "")};
  rules.takeback = std::chrono::milliseconds(100 * script.Byte());
  world.universe.SetRules(rules, world.now);
  world.port.SetRules(rules, world.now);
  if (rules.mode == MergeMode::kOnly) FUZZ_CHECK(world.universe.SourceCount() <= 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  World world;
  Script script(data, size);
  while (!script.done()) {
    switch (script.Byte() % 7) {
      case 0:
        SendSacnData(world, script);
        break;
      case 1:
        SendSacnSync(world, script);
        break;
      case 2:
        world.now += std::chrono::milliseconds(20 * script.Byte());
        break;
      case 3:
        world.universe.Expire(world.now);
        world.port.Expire(world.now);
        CheckAfterExpire(world);
        break;
      case 4:
        SendArtDmx(world, script);
        break;
      case 5:
        world.port.OnSync(kAddresses[script.Byte() & 3], world.now);
        break;
      case 6:
        ChangeRules(world, script);
        break;
    }
    FUZZ_CHECK(world.universe.SourceCount() <= kSacnSourceLimit);
    FUZZ_CHECK(world.port.SourceCount() <= kArtnetMergeSources);
    CheckMerge(world.universe);
    CheckMerge(world.port);
  }
  FUZZ_CHECK(world.universe.TakeEvents().size() <= SourceEventLog::kLimit);
  FUZZ_CHECK(world.port.TakeEvents().size() <= SourceEventLog::kLimit);
  return 0;
}
