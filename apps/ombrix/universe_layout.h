// The universe view as text: 512 levels laid out to fit a terminal of a
// given size, channel numbers down the side, recently changed channels
// marked. Everything here is a pure function of its arguments (the time
// included), so the layout is tested without a terminal; live_view.h puts
// the lines on the screen.
#ifndef OMBRIX_TOOL_UNIVERSE_LAYOUT_H
#define OMBRIX_TOOL_UNIVERSE_LAYOUT_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ombrix_tool {

constexpr int kChannels = 512;

// How a level is written: 0-255, 00-FF, or 0-100 percent of full.
enum class LevelFormat { kDecimal, kHex, kPercent };
// The names users type: "dec", "hex", "pct".
const std::map<std::string, LevelFormat>& LevelFormatNames();
// The level right-aligned in the format's cell width (3, 2 and 3 characters).
std::string FormatLevel(uint8_t level, LevelFormat format);

// One screen line. The text is plain ASCII, one column per byte, never wider
// than the width it was laid out for; marks are the byte ranges to
// highlight (changed channels), in order and inside the text.
struct ScreenLine {
  struct Mark {
    int begin;
    int length;
  };
  std::string text;
  std::vector<Mark> marks;
};

// Keeps what a universe looked like and when each channel last changed.
// Owned and used by the one thread that draws the view.
class ChangeTracker {
 public:
  // Takes a new picture of the universe. The first one only sets the
  // starting point: levels seen at start-up are not changes.
  void Observe(const uint8_t* levels, uint64_t nowMicros);
  const uint8_t* levels() const { return levels_; }
  const uint64_t* changedAt() const { return changedAt_; }

 private:
  bool seen_ = false;
  uint8_t levels_[kChannels] = {};
  uint64_t changedAt_[kChannels] = {};  // 0: never changed
};

// One universe to show: a title, the 512 levels, and per channel the time
// it last changed (0 for never), on the clock of ViewSettings::nowMicros.
struct UniversePanel {
  std::string title;
  const uint8_t* levels;
  const uint64_t* changedAt;
};

struct ViewSettings {
  LevelFormat format = LevelFormat::kDecimal;
  uint64_t nowMicros = 0;
  uint64_t highlightMicros = 500000;  // how long a change stays marked
};

// How many channels go on one row of a view this wide: the largest of a few
// counts that keep the row numbers easy to follow (32, 24, 20, 16 ...),
// at least 1.
int ChannelsPerRow(int width, LevelFormat format);

// One universe in a box: a title line saying which channels are shown,
// then as many rows as fit, the first channel of each row down the side.
std::vector<ScreenLine> LayoutUniverse(const UniversePanel& panel, int width, int height, const ViewSettings& settings);

// A whole screen: the header lines (cut to the width), then the panels in a
// grid of as many columns as shows the most channels of each, in reading
// order. Never more lines than height, never a line wider than width.
std::vector<ScreenLine> LayoutScreen(int width, int height, const std::vector<std::string>& header,
                                     const std::vector<UniversePanel>& panels, const ViewSettings& settings);

}  // namespace ombrix_tool

#endif  // OMBRIX_TOOL_UNIVERSE_LAYOUT_H
