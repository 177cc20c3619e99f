// Art-Net merge rules on a fake clock: two sources HTP, a third ignored,
// time-out, ArtSync.
#include <gtest/gtest.h>

#include <vector>

#include "protocols/artnet_port.h"
#include "tracker_clock.h"

namespace {

using namespace ombrix::protocols;
using ombrix_test::At;
using ombrix_test::Merged;
using ombrix_test::MergeOf;

// ArtDmx for port-address 0x0123 over levels the test keeps alive.
struct Dmx {
  explicit Dmx(std::vector<uint8_t> levels) : levels(std::move(levels)) {
    packet.portAddress = 0x0123;
    packet.data = this->levels.data();
    packet.length = static_cast<uint16_t>(this->levels.size());
  }
  std::vector<uint8_t> levels;
  ArtDmx packet;
};

TEST(ArtnetMerge, TwoSourcesHighestTakesPrecedenceAThirdIgnored) {
  ArtnetPort port(0x0123);
  Dmx first({100, 0, 30, 40}), second({10, 200}), third({255, 255});
  EXPECT_EQ(port.OnDmx(first.packet, "10.0.0.1", At(0)), std::nullopt);
  EXPECT_FALSE(port.merging());
  EXPECT_EQ(port.OnDmx(second.packet, "10.0.0.2", At(0)), std::nullopt);
  EXPECT_TRUE(port.merging());
  EXPECT_EQ(port.OnDmx(third.packet, "10.0.0.3", At(0)), DropKind::kSourceLimit);
  Merged merged = MergeOf(port);
  EXPECT_EQ(merged.driving, 2u);
  EXPECT_EQ(merged.levels[0], 100);
  EXPECT_EQ(merged.owner[0], 0);
  EXPECT_EQ(merged.levels[1], 200);
  EXPECT_EQ(merged.owner[1], 1);
  EXPECT_EQ(merged.levels[3], 40) << "beyond the second source's length";
  EXPECT_EQ(merged.owner[4], kNoOwner);

  // The first source goes quiet: gone after 10 s, and the third gets in.
  port.OnDmx(second.packet, "10.0.0.2", At(5000));
  port.Expire(At(9999));
  EXPECT_EQ(port.SourceCount(), 2u);
  port.Expire(At(10000));
  port.OnDmx(second.packet, "10.0.0.2", At(10500));
  port.Expire(At(11000));
  ASSERT_EQ(port.SourceCount(), 1u) << "lost at 10 s, left with its loss batch";
  EXPECT_EQ(port.Sources()[0].address, "10.0.0.2");
  EXPECT_EQ(port.OnDmx(third.packet, "10.0.0.3", At(11001)), std::nullopt);
  merged = MergeOf(port);
  EXPECT_EQ(merged.levels[0], 255);
  EXPECT_EQ(merged.levels[2], 0) << "the first source's slots went with it";

  std::vector<SourceEvent> events = port.TakeEvents();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[2].kind, SourceEvent::Kind::kTimedOut);
  EXPECT_EQ(events[2].address, "10.0.0.1");

  Dmx elsewhere({1, 2});
  elsewhere.packet.portAddress = 0x0124;
  EXPECT_EQ(port.OnDmx(elsewhere.packet, "10.0.0.2", At(10002)), DropKind::kNotConfigured);
}

TEST(ArtnetSources, KeyedByAddressAndPhysicalWithSequenceChecked) {
  ArtnetPort port(0x0123);
  // Two ports of one controller on one port-address merge as two sources.
  Dmx first({100, 5}), second({20, 200});
  second.packet.physical = 1;
  port.OnDmx(first.packet, "10.0.0.1", At(0));
  port.OnDmx(second.packet, "10.0.0.1", At(1));
  ASSERT_EQ(port.SourceCount(), 2u);
  EXPECT_TRUE(port.merging());
  Merged merged = MergeOf(port);
  EXPECT_EQ(merged.levels[0], 100);
  EXPECT_EQ(merged.levels[1], 200);

  // Sequence per source: a stale or repeated number is dropped, a far jump
  // back is a restart, 0 is never checked, and another Physical's numbers
  // are its own.
  first.packet.sequence = 50;
  EXPECT_EQ(port.OnDmx(first.packet, "10.0.0.1", At(2)), std::nullopt);
  EXPECT_EQ(port.OnDmx(first.packet, "10.0.0.1", At(3)), DropKind::kOutOfSequence);
  first.packet.sequence = 40;
  EXPECT_EQ(port.OnDmx(first.packet, "10.0.0.1", At(4)), DropKind::kOutOfSequence);
  second.packet.sequence = 40;
  EXPECT_EQ(port.OnDmx(second.packet, "10.0.0.1", At(5)), std::nullopt);
  first.packet.sequence = 0;
  EXPECT_EQ(port.OnDmx(first.packet, "10.0.0.1", At(6)), std::nullopt);
  EXPECT_EQ(port.OnDmx(first.packet, "10.0.0.1", At(7)), std::nullopt);
  first.packet.sequence = 255;
  EXPECT_EQ(port.OnDmx(first.packet, "10.0.0.1", At(8)), std::nullopt) << "more than 19 behind: a restart";
  first.packet.sequence = 1;
  EXPECT_EQ(port.OnDmx(first.packet, "10.0.0.1", At(9)), std::nullopt) << "255 wraps to 1";
  EXPECT_EQ(port.Sources()[0].sequenceErrors, 2u);
}

TEST(ArtnetSync, DataHeldBetweenArtSyncsFromItsSender) {
  ArtnetPort port(0x0123);
  Dmx one({10, 10}), two({20, 20}), three({30, 30});
  port.OnDmx(one.packet, "10.0.0.1", At(0));
  EXPECT_EQ(MergeOf(port).levels[0], 10) << "no ArtSync seen: output at once";

  port.OnSync("10.0.0.1", At(10));
  port.OnDmx(two.packet, "10.0.0.1", At(20));
  EXPECT_TRUE(port.Sources()[0].held);
  EXPECT_EQ(MergeOf(port).levels[0], 10);
  port.OnSync("10.0.0.9", At(30));  // someone else's sync
  EXPECT_EQ(MergeOf(port).levels[0], 10);
  port.OnSync("10.0.0.1", At(40));
  EXPECT_EQ(MergeOf(port).levels[0], 20);

  // ArtSync stops: after 4 s held data goes out and data flows unheld.
  port.OnDmx(three.packet, "10.0.0.1", At(100));
  port.Expire(At(4039));
  EXPECT_EQ(MergeOf(port).levels[0], 20);
  port.Expire(At(4040));
  EXPECT_EQ(MergeOf(port).levels[0], 30);
  port.OnDmx(one.packet, "10.0.0.1", At(4100));
  EXPECT_EQ(MergeOf(port).levels[0], 10);
}

TEST(ArtnetSync, IgnoredWhileMerging) {
  ArtnetPort port(0x0123);
  Dmx low({10}), high({90}), other({50});
  port.OnSync("10.0.0.1", At(0));
  port.OnDmx(high.packet, "10.0.0.1", At(10));
  EXPECT_EQ(MergeOf(port).driving, 0u);
  // A second source starts a merge: the held data goes out, and from then on
  // data is output as it comes.
  port.OnDmx(other.packet, "10.0.0.2", At(20));
  EXPECT_EQ(MergeOf(port).levels[0], 90);
  port.OnSync("10.0.0.1", At(30));
  port.OnDmx(low.packet, "10.0.0.1", At(40));
  EXPECT_EQ(MergeOf(port).levels[0], 50);
}

TEST(DropCounting, CountersAndNames) {
  DropCounters counters;
  counters.Count(DropKind::kTruncated);
  counters.Count(DropKind::kTruncated);
  counters.Count(DropKind::kOddDmxLength, 5);
  counters.Count(DropKind::kCount);  // not a kind: ignored
  EXPECT_EQ(counters.Get(DropKind::kTruncated), 2u);
  EXPECT_EQ(counters.Total(), 7u);
  EXPECT_EQ(counters.Snapshot()[static_cast<size_t>(DropKind::kOddDmxLength)], 5u);
  for (size_t kind = 0; kind < kDropKindCount; ++kind) {
    EXPECT_STRNE(DropKindName(static_cast<DropKind>(kind)), "?") << kind;
  }
  EXPECT_STREQ(DropKindName(DropKind::kCount), "?");
}

}  // namespace
