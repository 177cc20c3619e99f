#include "universe_layout.h"

#include <algorithm>
#include <cstdio>

namespace ombrix_tool {
namespace {

// Row counts that keep the numbers down the side easy to follow (1, 33,
// 65 ... or 1, 21, 41 ...); 32 matches a 32-channel DMX block.
constexpr int kRowChoices[] = {32, 24, 20, 16, 12, 10, 8, 5, 4, 2, 1};
constexpr int kLabelWidth = 3;  // "512"
constexpr int kColumnGap = 2;   // between panels side by side
constexpr int kRowGap = 1;      // blank line between panels one above the other

int CellWidth(LevelFormat format) { return format == LevelFormat::kHex ? 2 : 3; }

int RowWidth(int perRow, LevelFormat format) { return kLabelWidth + perRow * (CellWidth(format) + 1); }

// Cuts a line to the width, dropping the marks that no longer fit whole.
void Clip(ScreenLine* line, int width) {
  if (width < 0) width = 0;
  if (static_cast<int>(line->text.size()) <= width) return;
  line->text.resize(width);
  while (!line->marks.empty() && line->marks.back().begin + line->marks.back().length > width) {
    line->marks.pop_back();
  }
}

// The panel's name and which channels it shows, shortened step by step so
// that the range survives in a narrow panel: the name is cut last.
std::string Title(const std::string& name, int shown, int width) {
  std::string full = shown == 0           ? "(no room for channels)"
                     : shown >= kChannels ? "channels 1-512"
                                          : "channels 1-" + std::to_string(shown) + " of 512";
  std::string compact = shown == 0 ? "(no room)" : shown >= kChannels ? "1-512" : "1-" + std::to_string(shown) + "/512";
  if (static_cast<int>(name.size() + 2 + full.size()) <= width) return name + "  " + full;
  if (static_cast<int>(name.size() + 1 + compact.size()) <= width) return name + " " + compact;
  int room = width - 1 - static_cast<int>(compact.size());
  if (room < 1) return compact;
  return name.substr(0, room) + " " + compact;
}

bool Recent(uint64_t changedAt, const ViewSettings& settings) {
  return changedAt != 0 && changedAt <= settings.nowMicros && settings.nowMicros - changedAt < settings.highlightMicros;
}

ScreenLine ChannelRow(const UniversePanel& panel, int first, int perRow, const ViewSettings& settings) {
  char label[16];
  snprintf(label, sizeof(label), "%*d", kLabelWidth, first + 1);
  ScreenLine line{label, {}};
  for (int channel = first; channel < std::min(first + perRow, kChannels); ++channel) {
    line.text += ' ';
    if (Recent(panel.changedAt[channel], settings)) {
      line.marks.push_back({static_cast<int>(line.text.size()), CellWidth(settings.format)});
    }
    line.text += FormatLevel(panel.levels[channel], settings.format);
  }
  return line;
}

// Channels of each panel shown when the grid has this many columns.
int ShownWith(int columns, int panelCount, int width, int height, LevelFormat format) {
  int panelWidth = (width - (columns - 1) * kColumnGap) / columns;
  int gridRows = (panelCount + columns - 1) / columns;
  int panelHeight = (height - (gridRows - 1) * kRowGap) / gridRows;
  if (panelWidth < 1 || panelHeight < 1) return -1;
  if (RowWidth(1, format) > panelWidth) return 0;
  return std::min(kChannels, ChannelsPerRow(panelWidth, format) * (panelHeight - 1));
}

// Puts panel lines beside each other, each padded to the panel width.
void AppendBeside(ScreenLine* line, const ScreenLine& part, int column, int panelWidth) {
  if (column > 0) line->text.append(static_cast<size_t>(column * (panelWidth + kColumnGap)) - line->text.size(), ' ');
  int offset = static_cast<int>(line->text.size());
  line->text += part.text;
  for (ScreenLine::Mark mark : part.marks) line->marks.push_back({mark.begin + offset, mark.length});
}

}  // namespace

const std::map<std::string, LevelFormat>& LevelFormatNames() {
  static const std::map<std::string, LevelFormat> names = {
      {"dec", LevelFormat::kDecimal}, {"hex", LevelFormat::kHex}, {"pct", LevelFormat::kPercent}};
  return names;
}

std::string FormatLevel(uint8_t level, LevelFormat format) {
  char text[8];
  switch (format) {
    case LevelFormat::kHex:
      snprintf(text, sizeof(text), "%02X", level);
      break;
    case LevelFormat::kPercent:
      // Rounded to the nearest percent: 255 is 100, 128 is 50.
      snprintf(text, sizeof(text), "%3d", (level * 100 + 127) / 255);
      break;
    default:
      snprintf(text, sizeof(text), "%3d", level);
  }
  return text;
}

void ChangeTracker::Observe(const uint8_t* levels, uint64_t nowMicros) {
  for (int channel = 0; channel < kChannels; ++channel) {
    if (seen_ && levels[channel] != levels_[channel]) changedAt_[channel] = nowMicros;
    levels_[channel] = levels[channel];
  }
  seen_ = true;
}

int ChannelsPerRow(int width, LevelFormat format) {
  for (int choice : kRowChoices) {
    if (RowWidth(choice, format) <= width) return choice;
  }
  return 1;
}

std::vector<ScreenLine> LayoutUniverse(const UniversePanel& panel, int width, int height,
                                       const ViewSettings& settings) {
  std::vector<ScreenLine> lines;
  if (height < 1 || width < 1) return lines;
  int perRow = ChannelsPerRow(width, settings.format);
  // A row that cannot hold even one whole level is not shown at all.
  int rows = RowWidth(1, settings.format) > width ? 0 : std::min((kChannels + perRow - 1) / perRow, height - 1);
  lines.push_back({Title(panel.title, std::min(kChannels, rows * perRow), width), {}});
  for (int row = 0; row < rows; ++row) lines.push_back(ChannelRow(panel, row * perRow, perRow, settings));
  for (ScreenLine& line : lines) Clip(&line, width);
  return lines;
}

std::vector<ScreenLine> LayoutScreen(int width, int height, const std::vector<std::string>& header,
                                     const std::vector<UniversePanel>& panels, const ViewSettings& settings) {
  std::vector<ScreenLine> screen;
  if (width < 1 || height < 1) return screen;
  for (size_t i = 0; i < header.size() && static_cast<int>(i) < height; ++i) {
    screen.push_back({header[i], {}});
    Clip(&screen.back(), width);
  }
  int room = height - static_cast<int>(screen.size());
  int count = static_cast<int>(panels.size());
  if (room < 1 || count == 0) return screen;

  // More columns must show clearly more channels to win: long rows in few
  // columns read more easily than many narrow strips.
  int columns = 1;
  int best = ShownWith(1, count, width, room, settings.format);
  for (int candidate = 2; candidate <= count; ++candidate) {
    int shown = ShownWith(candidate, count, width, room, settings.format);
    if (shown > best + best / 4) {
      best = shown;
      columns = candidate;
    }
  }
  int panelWidth = std::max(1, (width - (columns - 1) * kColumnGap) / columns);
  int gridRows = (count + columns - 1) / columns;
  int panelHeight = (room - (gridRows - 1) * kRowGap) / gridRows;
  if (panelHeight < 1) {
    // Not even a title each: as many titles as fit, one per line.
    gridRows = std::min(count, room);
    columns = 1;
    panelWidth = width;
    panelHeight = 1;
  }
  for (int gridRow = 0; gridRow < gridRows; ++gridRow) {
    if (gridRow > 0) {
      for (int gap = 0; gap < kRowGap && static_cast<int>(screen.size()) < height; ++gap) screen.push_back({});
    }
    size_t top = screen.size();
    for (int column = 0; column < columns; ++column) {
      int index = gridRow * columns + column;
      if (index >= count) break;
      std::vector<ScreenLine> part = LayoutUniverse(panels[index], panelWidth, panelHeight, settings);
      for (size_t i = 0; i < part.size(); ++i) {
        if (top + i >= static_cast<size_t>(height)) break;
        if (top + i >= screen.size()) screen.emplace_back();
        AppendBeside(&screen[top + i], part[i], column, panelWidth);
      }
    }
  }
  for (ScreenLine& line : screen) Clip(&line, width);
  return screen;
}

}  // namespace ombrix_tool
