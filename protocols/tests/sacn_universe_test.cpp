// sACN source rules on a fake clock: sequence, time-out, termination,
// preview, start codes, priority, merge, synchronisation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocols/sacn_universe.h"
#include "sacn_test_source.h"
#include "tracker_clock.h"

namespace {

using namespace ombrix::protocols;
using ombrix_test::At;
using ombrix_test::Levels;
using ombrix_test::Merged;
using ombrix_test::MergeOf;
using ombrix_test::Sender;

// The rules below hold whether or not new sources wait for their 0xDD
// packet; that wait has tests of its own.
constexpr std::chrono::milliseconds kNoPrioritiesWait{0};

TEST(SacnSequence, StalePacketsDroppedAndLargeJumpsBackRestart) {
  SacnUniverse universe(1, kSacnDefaultSourceLimit, kNoPrioritiesWait);
  Sender desk(1);
  desk.sequence = 10;
  EXPECT_EQ(universe.OnData(desk.Packet({1}), "a", At(0)), std::nullopt);
  SacnData packet = desk.Packet({2});  // sequence 11
  EXPECT_EQ(universe.OnData(packet, "a", At(1)), std::nullopt);
  EXPECT_EQ(universe.OnData(packet, "a", At(2)), DropKind::kOutOfSequence) << "duplicate";
  packet.sequence = 10;
  EXPECT_EQ(universe.OnData(packet, "a", At(3)), DropKind::kOutOfSequence) << "one behind";
  packet.sequence = static_cast<uint8_t>(11 - 19);
  EXPECT_EQ(universe.OnData(packet, "a", At(4)), DropKind::kOutOfSequence) << "19 behind";
  packet.sequence = static_cast<uint8_t>(11 - 20);
  packet.slots = nullptr, packet.slotCount = 0;
  std::vector<uint8_t> restart = {9};
  packet.slots = restart.data(), packet.slotCount = 1;
  EXPECT_EQ(universe.OnData(packet, "a", At(5)), std::nullopt) << "20 behind is a restart";
  EXPECT_EQ(MergeOf(universe).levels[0], 9);
  // From there on the count continues, through the wrap from 255 to 0.
  packet.sequence = 255;
  EXPECT_EQ(universe.OnData(packet, "a", At(6)), std::nullopt) << "ahead by 8";
  packet.sequence = 0;
  EXPECT_EQ(universe.OnData(packet, "a", At(7)), std::nullopt) << "wraps";
  ASSERT_EQ(universe.Sources().size(), 1u);
  EXPECT_EQ(universe.Sources()[0].sequenceErrors, 3u);
  EXPECT_EQ(universe.Sources()[0].packets, 5u);
}

TEST(SacnSequence, CountedPerSource) {
  SacnUniverse universe(1, kSacnDefaultSourceLimit, kNoPrioritiesWait);
  Sender first(1), second(2);
  second.sequence = 200;
  EXPECT_EQ(universe.OnData(first.Packet({1}), "a", At(0)), std::nullopt);
  EXPECT_EQ(universe.OnData(second.Packet({1}), "b", At(0)), std::nullopt);
  EXPECT_EQ(universe.OnData(first.Packet({1}), "a", At(1)), std::nullopt);
  EXPECT_EQ(universe.SourceCount(), 2u);
}

TEST(SacnSources, SilentSourceLeavesAfterTwoAndAHalfSeconds) {
  SacnUniverse universe(1, kSacnDefaultSourceLimit, kNoPrioritiesWait);
  Sender desk(1, "Desk \x1b[2J\x01 \xC3\xA9\xFF");
  universe.OnData(desk.Packet(Levels(512, 40)), "10.0.0.1:5568", At(0));
  std::vector<SourceEvent> events = universe.TakeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, SourceEvent::Kind::kJoined);
  EXPECT_EQ(events[0].name, "Desk ?[2J? \xC3\xA9?") << "control bytes and bad UTF-8 are not printed";
  EXPECT_EQ(events[0].address, "10.0.0.1:5568");

  universe.Expire(At(2499));
  EXPECT_EQ(universe.SourceCount(), 1u);
  EXPECT_EQ(MergeOf(universe).levels[511], 40);
  // Lost at 2.5 s, it keeps its look until its loss batch leaves.
  universe.Expire(At(2500));
  ASSERT_EQ(universe.SourceCount(), 1u);
  EXPECT_TRUE(universe.Sources()[0].lost);
  EXPECT_EQ(MergeOf(universe).levels[511], 40);
  universe.Expire(At(2500 + kSourceLossWindow.count()));
  EXPECT_EQ(universe.SourceCount(), 0u);
  Merged merged = MergeOf(universe);
  EXPECT_EQ(merged.driving, 0u);
  EXPECT_EQ(merged.levels[511], 0);
  EXPECT_EQ(merged.owner[511], kNoOwner);
  events = universe.TakeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, SourceEvent::Kind::kTimedOut);
  EXPECT_TRUE(universe.TakeEvents().empty());
}

TEST(SacnSources, StreamTerminatedLeavesAtOnceAndItsDataIsNotUsed) {
  SacnUniverse universe(1, kSacnDefaultSourceLimit, kNoPrioritiesWait);
  Sender desk(1), other(2);
  universe.OnData(desk.Packet(Levels(4, 10)), "a", At(0));
  universe.OnData(other.Packet(Levels(4, 5)), "b", At(0));
  SacnData last = desk.Packet(Levels(4, 250));
  last.streamTerminated = true;
  // A terminating packet that is stale does not end the stream.
  SacnData stale = last;
  stale.sequence = static_cast<uint8_t>(last.sequence - 1);
  EXPECT_EQ(universe.OnData(stale, "a", At(1)), DropKind::kOutOfSequence);
  EXPECT_EQ(universe.SourceCount(), 2u);
  uint64_t before = universe.generation();
  EXPECT_EQ(universe.OnData(last, "a", At(2)), std::nullopt);
  EXPECT_GT(universe.generation(), before);
  ASSERT_EQ(universe.SourceCount(), 1u);
  EXPECT_EQ(universe.Sources()[0].address, "b");
  EXPECT_EQ(MergeOf(universe).levels[0], 5);
  EXPECT_EQ(universe.TakeEvents().back().kind, SourceEvent::Kind::kTerminated);
  // Ending a stream never seen leaves nothing behind.
  Sender stranger(3);
  SacnData goodbye = stranger.Packet({1});
  goodbye.streamTerminated = true;
  EXPECT_EQ(universe.OnData(goodbye, "c", At(3)), std::nullopt);
  EXPECT_EQ(universe.SourceCount(), 1u);
}

TEST(SacnSources, PreviewNeverDrivesTheOutput) {
  SacnUniverse universe(1, kSacnDefaultSourceLimit, kNoPrioritiesWait);
  Sender visualiser(1);
  SacnData preview = visualiser.Packet(Levels(8, 200));
  preview.preview = true;
  EXPECT_EQ(universe.OnData(preview, "a", At(0)), DropKind::kPreview);
  ASSERT_EQ(universe.SourceCount(), 1u) << "listed for the status display";
  EXPECT_TRUE(universe.Sources()[0].preview);
  EXPECT_EQ(MergeOf(universe).driving, 0u);

  EXPECT_EQ(universe.OnData(visualiser.Packet(Levels(8, 30)), "a", At(1)), std::nullopt);
  EXPECT_EQ(MergeOf(universe).levels[7], 30);
  // Back to preview: its earlier live levels stop driving too.
  preview = visualiser.Packet(Levels(8, 200));
  preview.preview = true;
  universe.OnData(preview, "a", At(2));
  EXPECT_EQ(MergeOf(universe).levels[7], 0);
  EXPECT_EQ(MergeOf(universe).driving, 0u);
}

TEST(SacnSources, StartCodesLimitsAndRouting) {
  SacnUniverse universe(1, 2, kNoPrioritiesWait);
  Sender a(1), b(2), c(3);
  EXPECT_EQ(universe.OnData(a.Packet(Levels(4, 9), 0x17), "a", At(0)), DropKind::kOtherStartCode);
  EXPECT_EQ(MergeOf(universe).driving, 0u);
  EXPECT_EQ(universe.OnData(b.Packet({1}), "b", At(0)), std::nullopt);
  EXPECT_EQ(universe.OnData(c.Packet({1}), "c", At(0)), DropKind::kSourceLimit);
  EXPECT_EQ(universe.SourceCount(), 2u);
  SacnData elsewhere = a.Packet({1});
  elsewhere.universe = 2;
  EXPECT_EQ(universe.OnData(elsewhere, "a", At(0)), DropKind::kNotConfigured);
}

// ---- Merge -------------------------------------------------------------------

TEST(SacnMerge, HighestPriorityWinsWhereItSends) {
  SacnUniverse universe(1, kSacnDefaultSourceLimit, kNoPrioritiesWait);
  Sender backup(1), main(2);
  backup.priority = 100;
  main.priority = 150;
  universe.OnData(backup.Packet(Levels(512, 10)), "backup", At(0));
  universe.OnData(main.Packet(Levels(3, 0)), "main", At(0));
  Merged merged = MergeOf(universe);
  EXPECT_EQ(merged.driving, 2u);
  // main drives its three slots even at level 0; the rest is backup's.
  EXPECT_EQ(merged.levels[0], 0);
  EXPECT_EQ(merged.owner[2], 1);
  EXPECT_EQ(merged.levels[3], 10);
  EXPECT_EQ(merged.owner[3], 0);
  EXPECT_EQ(merged.owner[511], 0);
  // main leaves: backup takes every slot.
  universe.OnData(backup.Packet(Levels(512, 10)), "backup", At(2000));
  universe.Expire(At(2600));
  universe.OnData(backup.Packet(Levels(512, 10)), "backup", At(3000));
  universe.Expire(At(3600));
  merged = MergeOf(universe);
  EXPECT_EQ(merged.levels[0], 10);
  EXPECT_EQ(merged.owner[0], 0);
}

TEST(SacnMerge, EqualPrioritiesMergeHighestTakesPrecedence) {
  SacnUniverse universe(1, kSacnDefaultSourceLimit, kNoPrioritiesWait);
  Sender a(1), b(2), low(3);
  low.priority = 99;
  universe.OnData(a.Packet({100, 0, 50, 7}), "a", At(0));
  universe.OnData(b.Packet({10, 200, 50}), "b", At(0));
  universe.OnData(low.Packet(Levels(512, 255)), "low", At(0));
  Merged merged = MergeOf(universe);
  EXPECT_EQ(merged.levels[0], 100);
  EXPECT_EQ(merged.owner[0], 0);
  EXPECT_EQ(merged.levels[1], 200);
  EXPECT_EQ(merged.owner[1], 1);
  EXPECT_EQ(merged.levels[2], 50);
  EXPECT_EQ(merged.owner[2], 0) << "a tie stays with the source that came first";
  EXPECT_EQ(merged.levels[3], 7) << "only a sends slot 4";
  EXPECT_EQ(merged.levels[4], 255) << "beyond both, the lower priority drives";
  EXPECT_EQ(merged.owner[4], 2);
  EXPECT_EQ(merged.driving, 3u);
  // Owners may be left out.
  std::array<uint8_t, kSlotCount> levels{};
  EXPECT_EQ(universe.Merge(levels.data(), nullptr), 3u);
  EXPECT_EQ(levels[1], 200);
}

TEST(SacnMerge, PerSlotPrioritiesReplaceTheUniversePriorityUntilTheyLapse) {
  SacnUniverse universe(1, kSacnDefaultSourceLimit, kNoPrioritiesWait);
  Sender a(1), b(2);
  universe.OnData(a.Packet(Levels(4, 50)), "a", At(0));
  universe.OnData(b.Packet({255, 20, 30, 40}), "b", At(0));
  // b: slot 1 not driven, slot 2 at 150, slot 3 at 250 (counts as 200),
  // slot 4 beyond its priorities: not driven.
  EXPECT_EQ(universe.OnData(b.Packet({0, 150, 250}, kStartCodePerSlotPriority), "b", At(10)), std::nullopt);
  EXPECT_TRUE(universe.Sources()[1].perSlotPriority);
  Merged merged = MergeOf(universe);
  EXPECT_EQ(merged.levels[0], 50);
  EXPECT_EQ(merged.owner[0], 0);
  EXPECT_EQ(merged.levels[1], 20) << "b's higher slot priority beats a's higher level";
  EXPECT_EQ(merged.owner[1], 1);
  EXPECT_EQ(merged.levels[2], 30);
  EXPECT_EQ(merged.levels[3], 50);
  EXPECT_EQ(merged.owner[3], 0);
  // b goes on sending levels but no more priorities: after 2.5 s its
  // universe priority applies again and the slots merge HTP.
  universe.OnData(b.Packet({255, 20, 30, 40}), "b", At(2000));
  universe.OnData(a.Packet(Levels(4, 50)), "a", At(2000));
  universe.Expire(At(2510));
  EXPECT_FALSE(universe.Sources()[1].perSlotPriority);
  merged = MergeOf(universe);
  EXPECT_EQ(merged.levels[0], 255);
  EXPECT_EQ(merged.levels[1], 50);
}

// ---- Synchronisation ------------------------------------------------------------

TEST(SacnSync, DataHeldUntilItsSourceSyncsItsAddress) {
  SacnUniverse universe(1, kSacnDefaultSourceLimit, kNoPrioritiesWait);
  Sender desk(1), other(2);
  desk.syncAddress = other.syncAddress = 7;
  universe.OnData(desk.Packet({10}), "a", At(0));
  universe.OnData(desk.Packet({20}), "a", At(10));
  EXPECT_TRUE(universe.Sources()[0].held);
  EXPECT_EQ(universe.Sources()[0].syncAddress, 7);
  EXPECT_EQ(MergeOf(universe).driving, 0u);

  universe.OnSync(other.Sync(), At(20));  // another source's sync
  SacnSync wrongAddress = desk.Sync();
  wrongAddress.syncAddress = 8;
  universe.OnSync(wrongAddress, At(21));
  EXPECT_EQ(MergeOf(universe).levels[0], 0);

  uint64_t before = universe.generation();
  universe.OnSync(desk.Sync(), At(22));
  EXPECT_GT(universe.generation(), before);
  EXPECT_EQ(MergeOf(universe).levels[0], 20) << "the newest held data goes out";
  EXPECT_FALSE(universe.Sources()[0].held);

  universe.OnData(desk.Packet({30}), "a", At(40));
  EXPECT_EQ(MergeOf(universe).levels[0], 20) << "held again until the next sync";
  universe.OnSync(desk.Sync(), At(45));
  EXPECT_EQ(MergeOf(universe).levels[0], 30);

  // Unsynchronised data discards what is held and goes out at once.
  universe.OnData(desk.Packet({40}), "a", At(50));
  desk.syncAddress = 0;
  universe.OnData(desk.Packet({50}), "a", At(60));
  EXPECT_EQ(MergeOf(universe).levels[0], 50);
  desk.syncAddress = 7;
  universe.OnSync(desk.Sync(), At(70));
  EXPECT_EQ(MergeOf(universe).levels[0], 50);
}

// Force_Synchronization as E1.31-2018 has it: 0, a synchronised receiver
// does not update until sync resumes; 1, it need not wait.
TEST(SacnSync, LostSyncHoldsWithoutForceAndFollowsDataWithIt) {
  for (bool force : {false, true}) {
    SCOPED_TRACE(force ? "force sync 1" : "force sync 0");
    SacnUniverse universe(1, kSacnDefaultSourceLimit, kNoPrioritiesWait);
    Sender desk(1);
    desk.syncAddress = 7;
    desk.forceSync = force;
    universe.OnData(desk.Packet({10}), "a", At(0));
    universe.OnSync(desk.Sync(), At(5));
    EXPECT_EQ(MergeOf(universe).levels[0], 10);
    universe.OnData(desk.Packet({20}), "a", At(2000));
    universe.Expire(At(2504));
    EXPECT_EQ(MergeOf(universe).levels[0], 10) << "still synchronised";
    universe.Expire(At(2505));  // 2.5 s after the last sync packet
    std::vector<SourceEvent> events = universe.TakeEvents();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().kind, SourceEvent::Kind::kSyncLost);
    EXPECT_EQ(MergeOf(universe).levels[0], force ? 20 : 10);
    universe.OnData(desk.Packet({30}), "a", At(2600));
    universe.Expire(At(2600));
    EXPECT_EQ(MergeOf(universe).levels[0], force ? 30 : 10);
    // Sync resumes: the newest data goes out with it, and is held again after.
    universe.OnSync(desk.Sync(), At(2700));
    EXPECT_EQ(MergeOf(universe).levels[0], 30);
    universe.OnData(desk.Packet({40}), "a", At(2710));
    EXPECT_EQ(MergeOf(universe).levels[0], 30);
    universe.OnSync(desk.Sync(), At(2720));
    EXPECT_EQ(MergeOf(universe).levels[0], 40);
  }
}

TEST(SacnSync, ANewSyncAddressWaitsForItsOwnSyncPackets) {
  SacnUniverse universe(1, kSacnDefaultSourceLimit, kNoPrioritiesWait);
  Sender desk(1);
  desk.syncAddress = 7;
  universe.OnData(desk.Packet({10}), "a", At(0));
  universe.OnSync(desk.Sync(), At(5));
  desk.syncAddress = 8;
  universe.OnData(desk.Packet({20}), "a", At(100));
  EXPECT_EQ(universe.Sources()[0].syncAddress, 8);
  SacnSync stale{desk.cid, desk.sequence++, 7};
  universe.OnSync(stale, At(110));
  EXPECT_EQ(MergeOf(universe).levels[0], 10) << "the old address no longer releases";
  universe.OnSync(desk.Sync(), At(120));
  EXPECT_EQ(MergeOf(universe).levels[0], 20);
  // Locked on the new address: its loss holds (force sync 0).
  universe.OnData(desk.Packet({30}), "a", At(200));
  universe.Expire(At(2650));
  EXPECT_EQ(universe.TakeEvents().back().kind, SourceEvent::Kind::kSyncLost);
  EXPECT_EQ(MergeOf(universe).levels[0], 20);
}

TEST(SacnSync, NeverSyncedDataIsReleasedAfterTheTimeout) {
  SacnUniverse universe(1, kSacnDefaultSourceLimit, kNoPrioritiesWait);
  Sender desk(1);
  desk.syncAddress = 7;
  universe.OnData(desk.Packet({10}), "a", At(0));
  universe.OnData(desk.Packet({11}), "a", At(2000));
  universe.Expire(At(2499));
  EXPECT_EQ(MergeOf(universe).driving, 0u);
  universe.Expire(At(2500));
  EXPECT_EQ(MergeOf(universe).levels[0], 11);
}

}  // namespace
