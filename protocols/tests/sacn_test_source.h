// An sACN source for the tracker tests: builds the parsed form of its
// packets, counting its sequence numbers as a real source does.
#ifndef OMBRIX_TESTS_PROTOCOLS_SACN_TEST_SOURCE_H
#define OMBRIX_TESTS_PROTOCOLS_SACN_TEST_SOURCE_H

#include <string>
#include <vector>

#include "protocols/sacn_packet.h"

namespace ombrix_test {

using ombrix::protocols::Cid;
using ombrix::protocols::kStartCodeLevels;
using ombrix::protocols::SacnData;
using ombrix::protocols::SacnSync;

struct Sender {
  explicit Sender(uint8_t id, std::string name = "desk") : name(std::move(name)) { cid.fill(id); }
  const SacnData& Packet(std::vector<uint8_t> levels, uint8_t startCode = kStartCodeLevels) {
    slots = std::move(levels);
    packet = SacnData{};
    packet.cid = cid;
    packet.sourceName = name;
    packet.priority = priority;
    packet.syncAddress = syncAddress;
    packet.forceSync = forceSync;
    packet.sequence = sequence++;
    packet.universe = 1;
    packet.startCode = startCode;
    packet.slots = slots.data();
    packet.slotCount = static_cast<uint16_t>(slots.size());
    return packet;
  }
  SacnSync Sync() { return SacnSync{cid, sequence++, syncAddress}; }

  Cid cid{};
  std::string name;
  uint8_t priority = 100;
  uint16_t syncAddress = 0;
  bool forceSync = false;
  uint8_t sequence = 0;
  std::vector<uint8_t> slots;
  SacnData packet;
};

inline std::vector<uint8_t> Levels(size_t count, uint8_t value) { return std::vector<uint8_t>(count, value); }

}  // namespace ombrix_test

#endif  // OMBRIX_TESTS_PROTOCOLS_SACN_TEST_SOURCE_H
