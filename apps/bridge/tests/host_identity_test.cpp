// The name-based UUIDs behind the sACN CIDs: libuuid on Linux and the
// system's SHA-1 on Windows must give the same bytes, so that a bridge
// keeps its CIDs whichever system runs it. The expected values come from
// an independent implementation (Python's uuid.uuid5).
#include <gtest/gtest.h>

#include "sacn_identity.h"

namespace {

using ombrix_bridge::Uuid;

Uuid FromHex(const char* hex) {
  Uuid uuid{};
  for (size_t i = 0; i < uuid.size(); ++i) {
    uuid[i] = static_cast<uint8_t>(std::stoi(std::string(hex + 2 * i, 2), nullptr, 16));
  }
  return uuid;
}

TEST(HostIdentityTest, NameBasedUuidsMatchTheKnownVectors) {
  // RFC 4122's DNS namespace, 6ba7b810-9dad-11d1-80b4-00c04fd430c8.
  const Uuid dns = FromHex("6ba7b8109dad11d180b400c04fd430c8");
  EXPECT_EQ(ombrix_bridge::NameBasedUuid(dns, "python.org"), FromHex("886313e13b8a53729b900c9aee199e5d"));
  // An empty name hashes the namespace alone; the version and variant bits
  // are set over whatever the digest had there.
  const Uuid bridge = FromHex("5b0e3f2a7c414d8e9a360f6c1d2e8b57");
  Uuid empty = ombrix_bridge::NameBasedUuid(bridge, "");
  EXPECT_EQ(empty, FromHex("b8872d6615c05fc08087407ad0e28e77"));
  EXPECT_EQ(empty[6] >> 4, 5);
  EXPECT_EQ(empty[8] & 0xC0, 0x80);
}

TEST(HostIdentityTest, CidOfAHostSerialAndUniverseIsTheSameOnEverySystem) {
  ombrix_tool::Serial serial = ombrix_tool::SimulatedSerial(1);
  EXPECT_EQ(ombrix_bridge::MakeCid("stage-left", serial, 1), FromHex("905f7e7369c7583b84bec640508a9266"));
  EXPECT_NE(ombrix_bridge::MakeCid("stage-left", serial, 2), ombrix_bridge::MakeCid("stage-left", serial, 1));
  EXPECT_FALSE(ombrix_bridge::HostName().empty());
}

}  // namespace
