// The live view of a universe in the terminal: 16 rows of 32 channels (one
// row per 32-channel block), values in hex, with the channels that changed
// during the last half second shown in reverse video so that movement is
// visible even when the values themselves are unreadable at speed.
#ifndef OMBRIX_TOOL_LIVE_VIEW_H
#define OMBRIX_TOOL_LIVE_VIEW_H

#include <cstdint>
#include <string>
#include <vector>

#include "link_guard.h"

namespace ombrix_tool {

class LiveView {
 public:
  // Takes over the terminal (cursor hidden, screen cleared) when enabled.
  explicit LiveView(bool enabled);
  // Gives the terminal back, also after Ctrl-C.
  ~LiveView();
  LiveView(const LiveView&) = delete;
  LiveView& operator=(const LiveView&) = delete;

  bool enabled() const { return enabled_; }

  // The grid of one universe under a title line.
  std::string Grid(const std::string& title, const Universe& universe, uint64_t nowMicros);
  // Draws a whole screen: the parts in order, then clears what an earlier,
  // longer screen left below them.
  void Draw(const std::vector<std::string>& parts);

 private:
  struct Cells {
    uint8_t last[512] = {};
    uint64_t changedAt[512] = {};
  };
  bool enabled_;
  // One set of cells per title, so that several grids can share the view.
  std::vector<std::pair<std::string, Cells>> cells_;
  Cells& CellsFor(const std::string& title);
};

}  // namespace ombrix_tool

#endif  // OMBRIX_TOOL_LIVE_VIEW_H
