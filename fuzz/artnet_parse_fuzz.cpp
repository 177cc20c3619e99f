// Art-Net parser on arbitrary datagrams; what parses must build again to the
// same bytes (ArtDmx, ArtSync) or the same fields (ArtPoll, ArtPollReply,
// ArtAddress).
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <variant>
#include <vector>

#include "fuzz_check.h"
#include "protocols/artnet_packet.h"

using namespace ombrix::protocols;

namespace {

std::array<uint8_t, kArtnetMaxPacketSize> rebuilt;

void CheckDmx(const ArtDmx& dmx, const std::vector<uint8_t>& datagram) {
  // Any length from 1 to 512, odd ones too, that the datagram holds; bytes
  // after the data are padding and do not come back.
  FUZZ_CHECK(dmx.length >= 1 && dmx.length <= 512);
  FUZZ_CHECK(datagram.size() >= kArtDmxHeaderSize + dmx.length);
  size_t built = BuildArtDmx(dmx, rebuilt.data(), rebuilt.size());
  FUZZ_CHECK(built == kArtDmxHeaderSize + dmx.length);
  // The version may be any from 14 up, and Net's top bit is not ours: the
  // rest must come back byte for byte.
  FUZZ_CHECK(std::memcmp(rebuilt.data(), datagram.data(), 10) == 0);
  FUZZ_CHECK(std::memcmp(rebuilt.data() + 12, datagram.data() + 12, 3) == 0);
  FUZZ_CHECK(rebuilt[15] == (datagram[15] & 0x7F));
  FUZZ_CHECK(std::memcmp(rebuilt.data() + 16, datagram.data() + 16, built - 16) == 0);
}

void CheckPollReply(const ArtPollReply& reply) {
  FUZZ_CHECK(reply.portCount <= 4);
  FUZZ_CHECK(reply.shortName.size() <= 18 && reply.longName.size() <= 64 && reply.nodeReport.size() <= 64);
  std::array<uint8_t, kArtPollReplySize> out{};
  FUZZ_CHECK(BuildArtPollReply(reply, out.data(), out.size()) == kArtPollReplySize);
  ArtnetPacket again = ParseArtnet(out.data(), out.size());
  const ArtPollReply* copy = std::get_if<ArtPollReply>(&again);
  FUZZ_CHECK(copy && copy->ip == reply.ip && copy->port == reply.port && copy->portCount == reply.portCount);
}

void CheckAddress(const ArtAddress& address, size_t size) {
  FUZZ_CHECK(size >= kArtAddressSize);
  FUZZ_CHECK(address.shortName.size() <= 18 && address.longName.size() <= 64);
  std::array<uint8_t, kArtAddressSize> out{};
  FUZZ_CHECK(BuildArtAddress(address, out.data(), out.size()) == kArtAddressSize);
  ArtnetPacket again = ParseArtnet(out.data(), out.size());
  const ArtAddress* copy = std::get_if<ArtAddress>(&again);
  // A name is written NUL-terminated and cut at a character boundary: what
  // comes back is a prefix of what was read.
  FUZZ_CHECK(copy && copy->netSwitch == address.netSwitch && copy->bindIndex == address.bindIndex &&
             copy->swIn == address.swIn && copy->swOut == address.swOut && copy->subSwitch == address.subSwitch &&
             copy->command == address.command && copy->shortName.size() <= 17 &&
             address.shortName.compare(0, copy->shortName.size(), copy->shortName) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> datagram(data, data + size);
  ArtnetPacket packet = ParseArtnet(datagram.data(), datagram.size());
  if (const ArtDmx* dmx = std::get_if<ArtDmx>(&packet)) {
    CheckDmx(*dmx, datagram);
  } else if (const ArtPoll* poll = std::get_if<ArtPoll>(&packet)) {
    FUZZ_CHECK(size >= kArtPollMinSize);
    size_t built = BuildArtPoll(*poll, rebuilt.data(), rebuilt.size());
    ArtnetPacket again = ParseArtnet(rebuilt.data(), built);
    const ArtPoll* copy = std::get_if<ArtPoll>(&again);
    FUZZ_CHECK(copy && copy->flags == poll->flags && copy->targetTop == poll->targetTop &&
               copy->targetBottom == poll->targetBottom);
    ArtPollAddresses(*poll, {0, 0x0123, 0x7FFF});
  } else if (const ArtPollReply* reply = std::get_if<ArtPollReply>(&packet)) {
    CheckPollReply(*reply);
  } else if (const ArtAddress* address = std::get_if<ArtAddress>(&packet)) {
    CheckAddress(*address, size);
  } else if (std::holds_alternative<ArtSync>(packet)) {
    FUZZ_CHECK(size >= kArtSyncSize);
  } else {
    FUZZ_CHECK(std::get<DropKind>(packet) < DropKind::kCount);
  }
  return 0;
}
