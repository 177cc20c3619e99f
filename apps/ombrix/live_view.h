// The live view on the terminal: takes the screen over, draws the lines of
// universe_layout.h with the changed channels highlighted, and redraws at
// once when the terminal is resized.
#ifndef OMBRIX_TOOL_LIVE_VIEW_H
#define OMBRIX_TOOL_LIVE_VIEW_H

#include <cstdint>
#include <vector>

#include "universe_layout.h"

namespace ombrix_tool {

// Colour when standard output is a terminal and NO_COLOR is unset or
// empty (no-color.org); without it, changes are shown in reverse video,
// which is an attribute, not a colour.
bool ColourWanted();

class LiveView {
 public:
  // Takes over the terminal when enabled: the alternate screen (the user's
  // scrollback stays as it was), cursor hidden, line wrap off so that no
  // line can ever spill onto the next, and a watch on the terminal's size
  // (console.h). Stays disabled when the terminal cannot take sequences.
  explicit LiveView(bool enabled);
  // Gives the terminal back, also after Ctrl-C.
  ~LiveView();
  LiveView(const LiveView&) = delete;
  LiveView& operator=(const LiveView&) = delete;

  bool enabled() const { return enabled_; }

  // The terminal's columns and rows now; 80x24 when it cannot say.
  void Size(int* width, int* height) const;
  // Draws a whole screen laid out for the current size. After a resize the
  // screen is cleared first, so nothing of the old layout remains.
  void Draw(const std::vector<ScreenLine>& lines);
  // Sleeps up to milliseconds; returns early (false) on a stop request or a
  // resize, so that the new size is drawn at once.
  bool Wait(uint32_t milliseconds);

 private:
  bool enabled_;
  bool colour_;
  // A resize not drawn yet: set by Wait() and the constructor, cleared by
  // Draw(); the drawing thread only.
  bool resized_ = false;
};

}  // namespace ombrix_tool

#endif  // OMBRIX_TOOL_LIVE_VIEW_H
