// Art-Net subscriptions on a fake clock: which nodes get the input's ArtDmx.
#include <gtest/gtest.h>

#include <asio/ip/address.hpp>

#include "artnet_subscribers.h"

namespace ombrix_bridge {
namespace {

using namespace ombrix::protocols;

TimePoint At(int64_t milliseconds) {
  return TimePoint(std::chrono::hours(1)) + std::chrono::milliseconds(milliseconds);
}

// A poll reply on Net 0 SubNet 1 with ports of the given types on universes 1, 2, 3 ...
ArtPollReply Reply(std::initializer_list<uint8_t> portTypes) {
  ArtPollReply reply;
  reply.subSwitch = 1;
  reply.shortName = "node";
  for (uint8_t type : portTypes) {
    reply.ports[reply.portCount].portType = type;
    reply.ports[reply.portCount].swIn = reply.ports[reply.portCount].swOut = static_cast<uint8_t>(reply.portCount + 1);
    ++reply.portCount;
  }
  return reply;
}

TEST(ArtnetSubscribers, NodesThatOutputWhatWeSendUntilTheirRepliesStopListingIt) {
  ArtnetSubscribers subscribers;
  std::set<uint16_t> sent = {0x0011, 0x0013};
  asio::ip::address b = asio::ip::make_address("198.18.0.3"), c = asio::ip::make_address("198.18.0.4");
  subscribers.OnReply(Reply({kArtPortOutput, kArtPortInput, kArtPortInput}), b, sent, At(0));
  subscribers.OnReply(Reply({kArtPortInput, kArtPortOutput}), c, sent, At(0));  // outputs 0x0012 only
  ASSERT_EQ(subscribers.For(0x0011), std::vector<asio::ip::address>{b});
  EXPECT_TRUE(subscribers.For(0x0013).empty()) << "an input on 0x0013 is not a subscription";
  EXPECT_EQ(subscribers.nodes().size(), 1u) << "a node with nothing of ours is not kept";

  subscribers.Expire(At(10000));
  EXPECT_EQ(subscribers.For(0x0011).size(), 1u);
  subscribers.Expire(At(10001));
  EXPECT_TRUE(subscribers.nodes().empty()) << "three polls unanswered";

  // A flood of replies from forged addresses keeps at most 64 nodes, the
  // one heard from least recently going first.
  for (int i = 0; i < 100; ++i) {
    asio::ip::address forged = asio::ip::make_address_v4(0xC6120000u + static_cast<uint32_t>(i));
    subscribers.OnReply(Reply({kArtPortOutput}), forged, sent, At(20000 + i));
  }
  EXPECT_EQ(subscribers.nodes().size(), kSubscriberLimit);
  EXPECT_EQ(subscribers.nodes().count(asio::ip::make_address_v4(0xC6120000u)), 0u);
  EXPECT_EQ(subscribers.nodes().count(asio::ip::make_address_v4(0xC6120000u + 99)), 1u);
}

}  // namespace
}  // namespace ombrix_bridge
