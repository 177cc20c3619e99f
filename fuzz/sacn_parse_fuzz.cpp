// sACN parser on arbitrary datagrams. Beyond "no crash, no read outside the
// datagram" (ASan): whatever parses must build again to a packet that parses
// to the same fields, so parser and builders agree on the layout.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <variant>
#include <vector>

#include "fuzz_check.h"
#include "protocols/sacn_packet.h"

using namespace ombrix::protocols;

namespace {

std::array<uint8_t, kSacnMaxPacketSize> rebuilt;

void CheckData(const SacnData& data, size_t size) {
  FUZZ_CHECK(size == kSacnDataMinSize + data.slotCount);
  FUZZ_CHECK(data.universe >= 1 && data.universe <= kSacnMaxUniverse);
  FUZZ_CHECK(data.priority <= kSacnMaxPriority);
  size_t built = BuildSacnData(data, rebuilt.data(), rebuilt.size());
  FUZZ_CHECK(built == size);
  SacnPacket again = ParseSacn(rebuilt.data(), built);
  const SacnData* copy = std::get_if<SacnData>(&again);
  FUZZ_CHECK(copy);
  FUZZ_CHECK(copy->cid == data.cid && copy->universe == data.universe);
  FUZZ_CHECK(copy->sequence == data.sequence && copy->priority == data.priority);
  FUZZ_CHECK(copy->syncAddress == data.syncAddress && copy->startCode == data.startCode);
  FUZZ_CHECK(copy->preview == data.preview && copy->streamTerminated == data.streamTerminated);
  FUZZ_CHECK(copy->slotCount == data.slotCount);
  FUZZ_CHECK(std::memcmp(copy->slots, data.slots, data.slotCount) == 0);
  // A 64-byte name without NUL comes back cut to 63 bytes or fewer.
  FUZZ_CHECK(data.sourceName.substr(0, copy->sourceName.size()) == copy->sourceName);
}

void CheckDiscovery(const SacnDiscovery& page) {
  FUZZ_CHECK(page.universes.size() <= kSacnDiscoveryUniversesPerPage);
  if (page.page > page.lastPage) return;  // received as is; we never build such a page
  size_t built = BuildSacnDiscovery(page, rebuilt.data(), rebuilt.size());
  FUZZ_CHECK(built == kSacnDiscoveryMinSize + 2 * page.universes.size());
  SacnPacket again = ParseSacn(rebuilt.data(), built);
  const SacnDiscovery* copy = std::get_if<SacnDiscovery>(&again);
  FUZZ_CHECK(copy && copy->universes == page.universes && copy->cid == page.cid);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly the datagram's size, so ASan sees any read past it.
  std::vector<uint8_t> datagram(data, data + size);
  SacnPacket packet = ParseSacn(datagram.data(), datagram.size());
  if (const SacnData* parsed = std::get_if<SacnData>(&packet)) {
    CheckData(*parsed, size);
  } else if (const SacnSync* sync = std::get_if<SacnSync>(&packet)) {
    FUZZ_CHECK(size == kSacnSyncSize);
    size_t built = BuildSacnSync(*sync, rebuilt.data(), rebuilt.size());
    FUZZ_CHECK(built == kSacnSyncSize);
    // The two reserved bytes are the only ones a rebuild may change.
    FUZZ_CHECK(std::memcmp(rebuilt.data(), datagram.data(), 47) == 0);
  } else if (const SacnDiscovery* page = std::get_if<SacnDiscovery>(&packet)) {
    CheckDiscovery(*page);
  } else {
    FUZZ_CHECK(std::get<DropKind>(packet) < DropKind::kCount);
  }
  return 0;
}
