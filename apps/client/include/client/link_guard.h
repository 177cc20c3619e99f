// An open link that is closed when the command ends, whichever way it ends,
// and the universe buffers the library shares with the tool.
#ifndef OMBRIX_TOOL_LINK_GUARD_H
#define OMBRIX_TOOL_LINK_GUARD_H

#include <cstdint>
#include <string>

#include "client/session.h"

namespace ombrix_tool {

// A universe the library reads (output) or writes (input) on its I/O thread
// while the tool uses it: every access from the tool is a relaxed one-byte
// atomic, which is all the library's byte-wise copying needs.
struct Universe {
  alignas(64) uint8_t bytes[512] = {};
  void Store(int index, uint8_t value) { __atomic_store_n(bytes + index, value, __ATOMIC_RELAXED); }
  uint8_t Load(int index) const { return __atomic_load_n(bytes + index, __ATOMIC_RELAXED); }
  void CopyTo(uint8_t* levels) const {
    for (int i = 0; i < 512; ++i) levels[i] = Load(i);
  }
};

class LinkGuard {
 public:
  LinkGuard(const Api& api, const Serial& serial) : api_(api), serial_(serial) {}
  ~LinkGuard() { Close(); }
  LinkGuard(const LinkGuard&) = delete;
  LinkGuard& operator=(const LinkGuard&) = delete;

  // Checks that the interface is attached and opens it. output null makes a
  // queue-mode link fed with SendDmxUniverse. Both buffers must outlive
  // the guard.
  bool Open(Universe* output, Universe* input, std::string* error);
  // Sets the mode and waits until the I/O thread has taken it up.
  bool SetMode(int mode, std::string* error);
  void Close();

  const Serial& serial() const { return serial_; }
  const uint8_t* key() const { return serial_.data(); }

 private:
  const Api& api_;
  Serial serial_;
  bool open_ = false;
};

}  // namespace ombrix_tool

#endif  // OMBRIX_TOOL_LINK_GUARD_H
