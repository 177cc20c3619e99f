#include "live_view.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "client/console.h"
#include "client/session.h"

namespace ombrix_tool {
namespace {

constexpr const char* kColourMark = "\x1b[1;33m";  // bold yellow
constexpr const char* kPlainMark = "\x1b[7m";      // reverse video
constexpr const char* kNormal = "\x1b[0m";

std::string Render(const ScreenLine& line, const char* mark) {
  std::string text;
  size_t at = 0;
  for (const ScreenLine::Mark& range : line.marks) {
    text.append(line.text, at, range.begin - at);
    text += mark;
    text.append(line.text, range.begin, range.length);
    text += kNormal;
    at = range.begin + range.length;
  }
  text.append(line.text, at, std::string::npos);
  return text;
}

}  // namespace

bool ColourWanted() {
  const char* noColour = getenv("NO_COLOR");
  return OutputIsTerminal() && (noColour == nullptr || noColour[0] == '\0');
}

LiveView::LiveView(bool enabled) : enabled_(enabled && EnterTerminalSequences()), colour_(enabled_ && ColourWanted()) {
  if (!enabled_) return;
  WatchTerminalResize(true);
  resized_ = true;  // the first draw clears the screen
  fputs("\x1b[?1049h\x1b[?25l\x1b[?7l", stdout);
  fflush(stdout);
}

LiveView::~LiveView() {
  if (!enabled_) return;
  WatchTerminalResize(false);
  fputs("\x1b[0m\x1b[?7h\x1b[?25h\x1b[?1049l", stdout);
  fflush(stdout);
  LeaveTerminalSequences();
}

void LiveView::Size(int* width, int* height) const {
  if (TerminalSize(width, height)) return;
  *width = 80;
  *height = 24;
}

void LiveView::Draw(const std::vector<ScreenLine>& lines) {
  int width = 0;
  int height = 0;
  Size(&width, &height);
  std::string screen = resized_ ? "\x1b[2J" : "";
  resized_ = false;
  const char* mark = colour_ ? kColourMark : kPlainMark;
  char position[32];
  int row = 0;
  for (const ScreenLine& line : lines) {
    if (++row > height) break;
    snprintf(position, sizeof(position), "\x1b[%d;1H", row);
    screen += position;
    screen += Render(line, mark);
    // Erasing from a full line's end would take its last character with it.
    if (static_cast<int>(line.text.size()) < width) screen += "\x1b[K";
  }
  if (row < height) {
    snprintf(position, sizeof(position), "\x1b[%d;1H\x1b[J", row + 1);
    screen += position;
  }
  fwrite(screen.data(), 1, screen.size(), stdout);
  fflush(stdout);
}

bool LiveView::Wait(uint32_t milliseconds) {
  uint64_t end = NowMicros() + uint64_t{milliseconds} * 1000;
  while (!StopRequested() && !(enabled_ && (resized_ || (resized_ = TakeTerminalResized())))) {
    uint64_t now = NowMicros();
    if (now >= end) return true;
    SleepUnlessStopped(static_cast<uint32_t>(std::min<uint64_t>((end - now + 999) / 1000, 10)));
  }
  return false;
}

}  // namespace ombrix_tool
