// The universe view's layout, checked without a terminal: it must fit any
// size it is given, show levels in the chosen format with the right channel
// numbers, say which channels it shows and mark exactly the recent changes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "demo_figures.h"
#include "demo_traffic.h"
#include "universe_layout.h"

namespace ombrix_tool {
namespace {

constexpr uint64_t kNow = 10000000;

struct Universe512 {
  uint8_t levels[kChannels] = {};
  uint64_t changedAt[kChannels] = {};
  UniversePanel Panel(const std::string& title) const { return {title, levels, changedAt}; }
};

Universe512 Ramp() {
  Universe512 universe;
  for (int channel = 0; channel < kChannels; ++channel) universe.levels[channel] = static_cast<uint8_t>(channel);
  return universe;
}

ViewSettings At(LevelFormat format = LevelFormat::kDecimal) {
  ViewSettings settings;
  settings.format = format;
  settings.nowMicros = kNow;
  return settings;
}

std::vector<std::string> Texts(const std::vector<ScreenLine>& lines) {
  std::vector<std::string> texts;
  for (const ScreenLine& line : lines) texts.push_back(line.text);
  return texts;
}

TEST(LevelFormatTest, DecimalHexAndRoundedPercentInFixedCells) {
  EXPECT_EQ(FormatLevel(0, LevelFormat::kDecimal), "  0");
  EXPECT_EQ(FormatLevel(255, LevelFormat::kDecimal), "255");
  EXPECT_EQ(FormatLevel(10, LevelFormat::kHex), "0A");
  EXPECT_EQ(FormatLevel(255, LevelFormat::kHex), "FF");
  EXPECT_EQ(FormatLevel(255, LevelFormat::kPercent), "100");
  EXPECT_EQ(FormatLevel(128, LevelFormat::kPercent), " 50");
  EXPECT_EQ(FormatLevel(1, LevelFormat::kPercent), "  0");
  EXPECT_EQ(FormatLevel(3, LevelFormat::kPercent), "  1");
  EXPECT_EQ(LevelFormatNames().at("pct"), LevelFormat::kPercent);
  EXPECT_EQ(LevelFormatNames().size(), 3u);
}

TEST(UniverseLayoutTest, EveryScreenFitsItsSizeWhateverTheSize) {
  Universe512 universe = Ramp();
  for (int channel = 0; channel < kChannels; channel += 3) universe.changedAt[channel] = kNow - 1000;
  std::vector<std::string> header = {"a header line longer than the narrowest terminals it is shown on", "", "x"};
  for (int panelCount : {1, 2, 4}) {
    std::vector<UniversePanel> panels(panelCount, universe.Panel("panel title"));
    for (LevelFormat format : {LevelFormat::kDecimal, LevelFormat::kHex, LevelFormat::kPercent}) {
      for (int width = 1; width <= 230; width += (width < 40 ? 1 : 7)) {
        for (int height = 1; height <= 70; height += (height < 12 ? 1 : 5)) {
          SCOPED_TRACE(std::to_string(panelCount) + " panels " + std::to_string(width) + "x" + std::to_string(height));
          std::vector<ScreenLine> screen = LayoutScreen(width, height, header, panels, At(format));
          ASSERT_LE(static_cast<int>(screen.size()), height);
          for (const ScreenLine& line : screen) {
            ASSERT_LE(static_cast<int>(line.text.size()), width) << line.text;
            int end = 0;
            for (const ScreenLine::Mark& mark : line.marks) {
              ASSERT_GE(mark.begin, end);
              ASSERT_GT(mark.length, 0);
              end = mark.begin + mark.length;
              ASSERT_LE(end, static_cast<int>(line.text.size()));
              ASSERT_NE(line.text[mark.begin + mark.length - 1], ' ');
            }
          }
        }
      }
    }
  }
}

TEST(UniverseLayoutTest, RowsStartWithTheirChannelAndHoldDecimalLevels) {
  Universe512 universe = Ramp();
  std::vector<std::string> lines = Texts(LayoutUniverse(universe.Panel("input"), 80, 40, At()));
  ASSERT_EQ(lines.size(), 33u);  // title + 32 rows of 16
  EXPECT_EQ(lines[0], "input  channels 1-512");
  EXPECT_EQ(lines[1], "  1   0   1   2   3   4   5   6   7   8   9  10  11  12  13  14  15");
  EXPECT_EQ(lines[17].substr(0, 11), "257   0   1");  // channel 257 is byte 256
  EXPECT_EQ(lines[32].substr(0, 11), "497 240 241");
  EXPECT_EQ(lines[32].substr(lines[32].size() - 3), "255");

  std::vector<std::string> hex = Texts(LayoutUniverse(universe.Panel("input"), 80, 40, At(LevelFormat::kHex)));
  EXPECT_EQ(hex[1].substr(0, 24), "  1 00 01 02 03 04 05 06");
  EXPECT_EQ(hex[2].substr(0, 6), " 25 18");  // 24 a row in hex at 80 columns
}

TEST(UniverseLayoutTest, NarrowerTerminalsGetFewerChannelsPerRowNeverPartCells) {
  EXPECT_EQ(ChannelsPerRow(200, LevelFormat::kDecimal), 32);
  EXPECT_EQ(ChannelsPerRow(80, LevelFormat::kDecimal), 16);
  EXPECT_EQ(ChannelsPerRow(80, LevelFormat::kHex), 24);
  EXPECT_EQ(ChannelsPerRow(40, LevelFormat::kDecimal), 8);
  EXPECT_EQ(ChannelsPerRow(2, LevelFormat::kDecimal), 1);
  int previous = 32;
  for (int width = 230; width >= 7; --width) {
    int perRow = ChannelsPerRow(width, LevelFormat::kDecimal);
    EXPECT_LE(perRow, previous);
    EXPECT_LE(3 + perRow * 4, width);
    previous = perRow;
  }
}

TEST(UniverseLayoutTest, TitleSaysWhichChannelsFitAndTheRowsMatchIt) {
  Universe512 universe = Ramp();
  std::vector<std::string> lines = Texts(LayoutUniverse(universe.Panel("out"), 80, 9, At()));
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[0], "out  channels 1-128 of 512");
  EXPECT_EQ(lines[8].substr(0, 3), "113");  // the last row shown holds 113-128
  EXPECT_EQ(Texts(LayoutUniverse(universe.Panel("out"), 80, 1, At()))[0], "out  (no room for channels)");
  EXPECT_TRUE(LayoutUniverse(universe.Panel("out"), 80, 0, At()).empty());
  // A narrow panel keeps the range and gives up words, then the name's tail.
  EXPECT_EQ(Texts(LayoutUniverse(universe.Panel("polled out"), 23, 12, At()))[0], "polled out 1-55/512");
  EXPECT_EQ(Texts(LayoutUniverse(universe.Panel("polled out"), 12, 12, At()))[0], "pol 1-22/512");
  EXPECT_EQ(Texts(LayoutUniverse(universe.Panel("polled out"), 6, 12, At()))[0], "(no ro");
}

TEST(UniverseLayoutTest, OnlyRecentChangesAreMarkedOnTheirOwnCell) {
  Universe512 universe = Ramp();
  ViewSettings settings = At();
  universe.changedAt[4] = kNow - settings.highlightMicros / 2;  // channel 5: recent
  universe.changedAt[5] = kNow - settings.highlightMicros;      // channel 6: just over
  universe.changedAt[6] = kNow + 5;                             // a stamp from the future is no change
  std::vector<ScreenLine> lines = LayoutUniverse(universe.Panel("in"), 80, 3, settings);
  ASSERT_EQ(lines[1].marks.size(), 1u);
  const ScreenLine::Mark& mark = lines[1].marks[0];
  EXPECT_EQ(lines[1].text.substr(mark.begin, mark.length), "  4");
  EXPECT_EQ(mark.begin, 3 + 4 * 4 + 1);
  EXPECT_TRUE(lines[0].marks.empty());
  EXPECT_TRUE(lines[2].marks.empty());
}

TEST(ChangeTrackerTest, FirstPictureIsTheStartingPointLaterOnesStampChanges) {
  ChangeTracker tracker;
  uint8_t levels[kChannels] = {};
  levels[9] = 200;
  tracker.Observe(levels, 100);
  EXPECT_EQ(tracker.changedAt()[9], 0u);
  EXPECT_EQ(tracker.levels()[9], 200);
  levels[9] = 201;
  levels[511] = 1;
  tracker.Observe(levels, 200);
  tracker.Observe(levels, 300);  // nothing new: the stamps stay
  EXPECT_EQ(tracker.changedAt()[9], 200u);
  EXPECT_EQ(tracker.changedAt()[511], 200u);
  EXPECT_EQ(tracker.changedAt()[10], 0u);
  EXPECT_EQ(tracker.levels()[511], 1);
}

TEST(ScreenLayoutTest, FourUniversesUseTheRoomOfALargeTerminal) {
  Universe512 universe = Ramp();
  std::vector<UniversePanel> panels = {universe.Panel("polled out"), universe.Panel("polled in"),
                                       universe.Panel("queue out"), universe.Panel("queue in")};
  std::vector<std::string> header(6, "figures");
  std::vector<std::string> large = Texts(LayoutScreen(200, 60, header, panels, At()));
  int whole = 0;
  for (const std::string& line : large) {
    for (size_t at = line.find("channels 1-512"); at != std::string::npos; at = line.find("channels 1-512", at + 1)) {
      ++whole;
    }
  }
  EXPECT_EQ(whole, 4);
  // Side by side: the two panels of a link share their lines.
  EXPECT_NE(large[6].find("polled out"), std::string::npos);
  EXPECT_NE(large[6].find("polled in"), std::string::npos);

  std::vector<std::string> small = Texts(LayoutScreen(80, 24, header, panels, At()));
  EXPECT_EQ(small.size(), 24u - 1u);  // the leftover row of the even split stays empty
  EXPECT_EQ(small[0], "figures");
  int titled = 0;
  for (const std::string& line : small) titled += line.find(" of 512") != std::string::npos ? 1 : 0;
  EXPECT_EQ(titled, 2);  // two lines of two titles
}

TEST(ScreenLayoutTest, MarksMoveWithTheirPanel) {
  Universe512 left = Ramp();
  Universe512 right = Ramp();
  right.changedAt[0] = kNow - 1;
  std::vector<ScreenLine> screen = LayoutScreen(80, 10, {}, {left.Panel("l"), right.Panel("r")}, At());
  ASSERT_EQ(screen[1].marks.size(), 1u);
  size_t rightStart = screen[0].text.find("r  channels");
  EXPECT_EQ(screen[1].marks[0].begin, static_cast<int>(rightStart) + 4);
  EXPECT_EQ(screen[1].text.substr(screen[1].marks[0].begin, 3), "  0");
}

TEST(DemoFiguresTest, LiveLinesFitEightyColumnsEvenAtTheirLargest) {
  LinkFigures figures;
  figures.role = "polled";
  figures.serial = "SIM0000000000001";
  figures.polled = true;
  figures.reports = 1000;
  figures.universes = 62.5;
  figures.medianMillis = 999.9;
  figures.p99Millis = 999.9;
  figures.inputBlocks = 9999;
  figures.heartbeats = 99999999;
  EXPECT_LE(ShortFigureLine(figures).size(), 80u) << ShortFigureLine(figures);
  EXPECT_LE(DetailFigureLine(figures).size(), 80u) << DetailFigureLine(figures);
  EXPECT_LE(CompactFigureLine(figures).size(), 50u) << CompactFigureLine(figures);
  EXPECT_NE(DetailFigureLine(figures).find("p99 999.9 ms"), std::string::npos);
  figures.polled = false;
  figures.role = "queue";
  std::string queue = ShortFigureLine(figures);
  EXPECT_EQ(queue.find("latency"), std::string::npos);
  std::string compactQueue = CompactFigureLine(figures);
  figures.polled = true;
  // The input column stands in one place on both links' lines.
  EXPECT_EQ(queue.find(" in "), ShortFigureLine(figures).find(" in "));
  EXPECT_EQ(compactQueue.find(" in "), CompactFigureLine(figures).find(" in "));
}

TEST(DemoChaseTest, EveryBlockChangesAtEveryStepAndTheHeadMoves) {
  for (uint32_t step = 0; step < 600; ++step) {
    for (int block = 0; block < 16; ++block) {
      bool changed = false;
      for (int i = 0; i < 32; ++i) changed |= ChaseValue(block * 32 + i, step) != ChaseValue(block * 32 + i, step + 1);
      ASSERT_TRUE(changed) << "block " << block << " step " << step;
    }
  }
  int lit = 0;
  for (int channel = 0; channel < kChannels; ++channel) lit += ChaseValue(channel, 1000) == 255 ? 1 : 0;
  EXPECT_GE(lit, 1);
  EXPECT_LE(lit, 17);  // the head and the step counters, not a wash of changes
}

TEST(DemoChaseTest, LatencyIsTracedToTheStepWhoseBlockWentOut) {
  StepHistory history;
  for (uint32_t step = 0; step < 200; ++step) history.Record(step, 1000 + step * 2000);
  uint8_t block[32];
  for (int i = 0; i < 32; ++i) block[i] = ChaseValue(3 * 32 + i, 150);
  EXPECT_EQ(history.LatencyOf(3, block, 1000 + 150 * 2000 + 700), 700u);
  EXPECT_EQ(history.LatencyOf(3, block, 1000 + 180 * 2000), 30u * 2000u);
  block[5] ^= 1;  // half-written block: matches no step
  EXPECT_EQ(history.LatencyOf(3, block, 1000 + 150 * 2000 + 700), 0u);
}

}  // namespace
}  // namespace ombrix_tool
