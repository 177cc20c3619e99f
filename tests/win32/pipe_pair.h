// Two connected ends of an overlapped message-mode pipe: the nearest thing
// to a HID device handle that the test machine has. Every write is one
// message and every read takes one message, as with HID reports.
#ifndef OMBRIX_TESTS_WIN32_PIPE_PAIR_H
#define OMBRIX_TESTS_WIN32_PIPE_PAIR_H

#include <windows.h>

#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace ombrix_test {

class PipePair {
 public:
  PipePair();
  ~PipePair();
  PipePair(const PipePair&) = delete;
  PipePair& operator=(const PipePair&) = delete;

  bool ok() const { return device_ != INVALID_HANDLE_VALUE && peer_ != INVALID_HANDLE_VALUE; }
  // The end that the backend drives through the platform contract.
  ombrix::platform::Device device() const;
  // The other end, played by the test as the interface. Blocking helpers.
  bool PeerWrite(const std::vector<uint8_t>& message);
  std::vector<uint8_t> PeerRead();
  void ClosePeer();

 private:
  HANDLE device_ = INVALID_HANDLE_VALUE;
  HANDLE peer_ = INVALID_HANDLE_VALUE;
};

}  // namespace ombrix_test

#endif  // OMBRIX_TESTS_WIN32_PIPE_PAIR_H
