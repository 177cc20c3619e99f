#include "live_view.h"

#include <cstdio>

namespace ombrix_tool {
namespace {

constexpr uint64_t kHighlightMicros = 500000;
constexpr const char* kReverse = "\x1b[7m";
constexpr const char* kNormal = "\x1b[0m";

}  // namespace

LiveView::LiveView(bool enabled) : enabled_(enabled) {
  if (!enabled_) return;
  fputs("\x1b[?25l\x1b[H\x1b[2J", stdout);
  fflush(stdout);
}

LiveView::~LiveView() {
  if (!enabled_) return;
  fputs("\x1b[0m\x1b[?25h\n", stdout);
  fflush(stdout);
}

LiveView::Cells& LiveView::CellsFor(const std::string& title) {
  for (auto& entry : cells_) {
    if (entry.first == title) return entry.second;
  }
  cells_.emplace_back(title, Cells{});
  return cells_.back().second;
}

std::string LiveView::Grid(const std::string& title, const Universe& universe, uint64_t nowMicros) {
  Cells& cells = CellsFor(title);
  std::string text = title + "\n";
  char cell[8];
  for (int row = 0; row < 16; ++row) {
    snprintf(cell, sizeof(cell), "%3d ", row * 32 + 1);
    text += cell;
    for (int column = 0; column < 32; ++column) {
      int channel = row * 32 + column;
      uint8_t value = universe.Load(channel);
      if (value != cells.last[channel]) {
        cells.last[channel] = value;
        cells.changedAt[channel] = nowMicros;
      }
      bool recent = cells.changedAt[channel] != 0 && nowMicros - cells.changedAt[channel] < kHighlightMicros;
      snprintf(cell, sizeof(cell), "%02X", value);
      if (recent) text += kReverse;
      text += cell;
      if (recent) text += kNormal;
      if (column != 31) text += ' ';
    }
    text += '\n';
  }
  return text;
}

void LiveView::Draw(const std::vector<std::string>& parts) {
  std::string screen = "\x1b[H";
  for (const std::string& part : parts) {
    // Clear each line's tail so that a shorter line leaves nothing behind.
    for (char c : part) {
      if (c == '\n') screen += "\x1b[K";
      screen += c;
    }
  }
  screen += "\x1b[J";
  fputs(screen.c_str(), stdout);
  fflush(stdout);
}

}  // namespace ombrix_tool
