// Merge modes, the wait for per-slot priorities and losses that settle, on
// a fake clock: what a universe shows when desks come, go and change.
#include <gtest/gtest.h>

#include <vector>

#include "protocols/artnet_port.h"
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

// Two desks sending a steady look each 25 ms until they are cut.
struct TwoDesks {
  explicit TwoDesks(SacnUniverse* universe) : universe(universe) {}
  void Run(int64_t from, int64_t to, int64_t mainCut, int64_t backupCut, std::vector<uint8_t>* seen) {
    for (int64_t t = from; t <= to; t += 5) {
      if (t % 25 == 0 && t < mainCut) universe->OnData(main.Packet(Levels(512, 200)), "198.18.0.11", At(t));
      if (t % 25 == 0 && t < backupCut) universe->OnData(backup.Packet(Levels(512, 100)), "198.18.0.12", At(t));
      universe->Expire(At(t));
      Merged merged = MergeOf(*universe);
      seen->push_back(merged.driving == 0 ? 0 : merged.levels[0]);
    }
  }
  SacnUniverse* universe;
  Sender main{1, "Main desk"}, backup{2, "Backup desk"};
};

TEST(SourceLoss, DesksCutMillisecondsApartLeaveTogetherSoTheSurvivorIsNeverShownAlone) {
  // HTP: main 200 over backup 100. A cut takes main at 1000 ms and the
  // backup 20 ms later; the merge must go from the two desks' look straight
  // to no source (the node then holds that look), never to 100.
  SacnUniverse universe(1, kSacnDefaultSourceLimit, std::chrono::milliseconds(0));
  TwoDesks desks(&universe);
  std::vector<uint8_t> seen;
  desks.Run(0, 5000, 1000, 1020, &seen);
  for (size_t i = 0; i < seen.size(); ++i) ASSERT_NE(seen[i], 100) << "at " << i * 5 << " ms";
  EXPECT_EQ(seen.front(), 200);
  EXPECT_EQ(seen.back(), 0);
  EXPECT_EQ(universe.SourceCount(), 0u);
}

TEST(BackupMerge, TheBackupTakesOverOnlyWhenThePrimaryIsLostAndHandsBackAfterTheTakeback) {
  SacnUniverse universe(1, kSacnDefaultSourceLimit, std::chrono::milliseconds(0));
  MergeRules rules;
  rules.mode = MergeMode::kBackup;
  rules.primary = {"Main desk"};   // by name
  rules.backup = {"198.18.0.12"};  // by address
  rules.takeback = std::chrono::seconds(2);
  universe.SetRules(rules, At(0));
  TwoDesks desks(&universe);
  std::vector<uint8_t> seen;
  // The backup's look is darker: HTP would show the main's, the backup
  // mode must too, and never a mix.
  desks.main = Sender(1, "Main desk");
  desks.Run(0, 1000, 1000000, 1000000, &seen);
  EXPECT_EQ(seen.back(), 200);
  EXPECT_EQ(universe.backupState(), BackupSwitch::State::kPrimary);
  // Main cut at 1000: lost at 3500, gone at 4500; the backup from then.
  desks.Run(1005, 6000, 1000, 1000000, &seen);
  EXPECT_EQ(universe.backupState(), BackupSwitch::State::kBackup);
  for (uint8_t level : seen) ASSERT_TRUE(level == 200 || level == 100) << int(level);
  EXPECT_EQ(seen.back(), 100);
  // Main back at 6025 (a restarted desk counts from 0): the backup stays
  // for the takeback, then the main takes over.
  desks.main.sequence = 0;
  seen.clear();
  for (int64_t t = 6025; t <= 9000; t += 25) {
    universe.OnData(desks.main.Packet(Levels(512, 200)), "198.18.0.11", At(t));
    universe.OnData(desks.backup.Packet(Levels(512, 100)), "198.18.0.12", At(t));
    universe.Expire(At(t));
    seen.push_back(MergeOf(universe).levels[0]);
    if (t < 8025) ASSERT_EQ(seen.back(), 100) << "at " << t;
  }
  EXPECT_EQ(seen.back(), 200);

  // By CID: the rules may name the backup's CID instead of its address.
  rules.backup = {CidText(desks.backup.cid)};
  universe.SetRules(rules, At(9001));
  ASSERT_EQ(universe.Sources().size(), 2u);
  for (const SacnSourceInfo& source : universe.Sources()) {
    EXPECT_EQ(source.role, source.name == "Main desk" ? SourceRole::kPrimary : SourceRole::kBackup) << source.name;
  }
}

TEST(BackupMerge, AfterSamplingThePrimaryIsShownEvenWhileItWaitsForItsPriorities) {
  // The backup is heard first; the main desk a second later, inside the
  // node's 1.5 s sampling period, and its levels then wait 1.5 s for 0xDD
  // packets that never come. Neither the backup's heard-first look nor a
  // takeback from it may reach the output.
  SacnUniverse universe(1);
  universe.SetRules(MergeRules{MergeMode::kBackup, {"Main desk"}, {"Backup desk"}, std::chrono::seconds(2)}, At(0));
  Sender main(1, "Main desk"), backup(2, "Backup desk");
  for (int64_t t = 0; t <= 4000; t += 25) {
    universe.OnData(backup.Packet(Levels(512, 100)), "b", At(t));
    if (t >= 1000) universe.OnData(main.Packet(Levels(512, 200)), "m", At(t));
    universe.Expire(At(t));
    if (t == 1500) universe.RestartSelection(At(t));  // the sampling period ends
    if (t < 1500) continue;
    ASSERT_EQ(universe.backupState(), BackupSwitch::State::kPrimary) << "at " << t;
    ASSERT_NE(MergeOf(universe).levels[0], 100) << "at " << t;
  }
  EXPECT_EQ(MergeOf(universe).levels[0], 200);
}

TEST(OnlyMerge, SourcesTheRulesDoNotNameAreDroppedAndLeaveWhenTheRulesChange) {
  SacnUniverse universe(1, kSacnDefaultSourceLimit, std::chrono::milliseconds(0));
  Sender named(1, "Console"), other(2, "Laptop");
  universe.OnData(named.Packet({10}), "198.18.0.1", At(0));
  universe.OnData(other.Packet({90}), "198.18.0.2", At(0));
  MergeRules rules;
  rules.mode = MergeMode::kOnly;
  rules.primary = {"Console"};
  universe.SetRules(rules, At(1));
  EXPECT_EQ(universe.SourceCount(), 1u);
  EXPECT_EQ(universe.OnData(other.Packet({90}), "198.18.0.2", At(2)), DropKind::kNotSelected);
  EXPECT_EQ(MergeOf(universe).levels[0], 10);
  EXPECT_EQ(universe.TakeEvents().back().kind, SourceEvent::Kind::kDeselected);
}

TEST(LtpMerge, EachSlotFollowsTheSourceThatChangedItLast) {
  SacnUniverse universe(1, kSacnDefaultSourceLimit, std::chrono::milliseconds(0));
  MergeRules rules;
  rules.mode = MergeMode::kLtp;
  universe.SetRules(rules, At(0));
  Sender a(1), b(2), low(3);
  low.priority = 50;
  universe.OnData(a.Packet({200, 200}), "a", At(0));
  universe.OnData(b.Packet({10, 10}), "b", At(1));
  universe.OnData(low.Packet({255, 255, 255}), "low", At(2));
  Merged merged = MergeOf(universe);
  EXPECT_EQ(merged.levels[0], 10) << "b came last";
  EXPECT_EQ(merged.levels[2], 255) << "priority still comes first; low alone sends slot 3";
  // a moves slot 1 only; a repeat of b's unchanged levels takes nothing back.
  universe.OnData(a.Packet({200, 180}), "a", At(3));
  universe.OnData(b.Packet({10, 10}), "b", At(4));
  merged = MergeOf(universe);
  EXPECT_EQ(merged.levels[0], 10);
  EXPECT_EQ(merged.levels[1], 180);
  EXPECT_EQ(merged.owner[1], 0);
}

TEST(PerSlotPriority, ANewSourceWaitsForItsFirstPrioritiesBeforeItsLevelsApply) {
  SacnUniverse universe(1);
  Sender house(1), console(2);
  universe.OnData(house.Packet(Levels(512, 30)), "house", At(0));
  universe.Expire(At(1500));
  ASSERT_EQ(MergeOf(universe).levels[100], 30) << "no 0xDD after 1.5 s: the universe priority applies";

  // The console claims slots 1-48 at 150 and nothing else; its levels come
  // first and must not touch slot 100 at its universe priority meanwhile.
  std::vector<uint8_t> claim(512, 0);
  std::fill(claim.begin(), claim.begin() + 48, 150);
  universe.OnData(console.Packet(Levels(512, 255)), "console", At(2000));
  universe.Expire(At(2100));
  EXPECT_EQ(MergeOf(universe).levels[0], 30) << "waiting for the console's priorities";
  universe.OnData(console.Packet(claim, kStartCodePerSlotPriority), "console", At(2200));
  uint8_t levels[kSlotCount], priority[kSlotCount];
  int16_t owner[kSlotCount];
  EXPECT_EQ(universe.Merge(levels, owner, priority), 2u);
  EXPECT_EQ(levels[0], 255);
  EXPECT_EQ(priority[0], 150);
  EXPECT_EQ(owner[0], 1);
  EXPECT_EQ(levels[100], 30) << "0 is not sourced: the house keeps slot 101";
  EXPECT_EQ(priority[100], 100);
}

TEST(ArtnetRules, LtpBackupAndCancelMergeOnAPort) {
  std::vector<uint8_t> bright(4, 200), dim(4, 50);
  ArtDmx main{0, 0, 0x0001, bright.data(), 4}, spare{0, 1, 0x0001, dim.data(), 4};
  ArtnetPort port(0x0001);
  MergeRules rules;
  rules.mode = MergeMode::kLtp;
  port.SetRules(rules, At(0));
  port.OnDmx(main, "198.18.0.1", At(0));
  port.OnDmx(spare, "198.18.0.1", At(1));  // the same controller's Physical 1
  EXPECT_EQ(MergeOf(port).levels[0], 50) << "latest, not highest";

  rules.mode = MergeMode::kBackup;
  rules.primary = {"198.18.0.1/0"};
  rules.backup = {"198.18.0.1/1"};
  port.SetRules(rules, At(2));
  EXPECT_EQ(MergeOf(port).levels[0], 200);
  port.OnDmx(spare, "198.18.0.1", At(9000));
  port.Expire(At(10000));
  EXPECT_EQ(MergeOf(port).levels[0], 200) << "lost, but not yet gone";
  port.OnDmx(spare, "198.18.0.1", At(10500));
  port.Expire(At(11000));
  EXPECT_EQ(MergeOf(port).levels[0], 50);

  // Cancel merge: whoever sends next is the port's only source.
  port.SetRules(MergeRules{}, At(11001));
  port.OnDmx(main, "198.18.0.1", At(11002));
  ASSERT_TRUE(port.merging());
  port.CancelMerge();
  port.OnDmx(spare, "198.18.0.1", At(11003));
  EXPECT_FALSE(port.merging());
  EXPECT_EQ(port.OnDmx(main, "198.18.0.1", At(11004)), DropKind::kNotSelected);
  EXPECT_EQ(MergeOf(port).levels[0], 50);
  port.Expire(At(21004));
  EXPECT_EQ(port.OnDmx(main, "198.18.0.1", At(21005)), std::nullopt) << "set aside only until silent";
}

}  // namespace
