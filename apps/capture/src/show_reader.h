// A show: one or more capture files read in order as one timeline of sACN
// and Art-Net datagrams (UDP to the protocols' ports), streamed record by
// record. A file whose first datagram comes no earlier than the previous
// file's last (the numbered files of a rotated recording) continues the
// timeline at its own times; one that goes back in time (an unrelated
// capture) is moved to start one frame interval after the previous file.
#ifndef OMBRIX_CAPTURE_SHOW_READER_H
#define OMBRIX_CAPTURE_SHOW_READER_H

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "capture_file.h"
#include "protocols/capture_frame.h"

namespace ombrix_capture {

enum class ShowProtocol { kSacn, kArtnet };

struct ShowDatagram {
  int64_t offsetNs = 0;  // from the show's first datagram
  ShowProtocol protocol = ShowProtocol::kSacn;
  ombrix::protocols::UdpView udp;  // valid until the next call of Next
  size_t file = 0;                 // index into the file list
  uint64_t fileOffset = 0;         // of its record
};

struct ShowPorts {
  std::set<uint16_t> sacn{5568};
  std::set<uint16_t> artnet{6454};
};

// Frames that were not sACN or Art-Net datagrams, by reason.
struct SkipCounts {
  uint64_t frames = 0;  // every frame read
  uint64_t otherUdp = 0;
  std::array<uint64_t, 7> byResult{};  // indexed by FrameResult
  uint64_t skipped() const;
  std::string Text() const;  // "12 not-udp, 3 other UDP" or "none"
};

class ShowReader {
 public:
  ShowReader(std::vector<std::string> files, ShowPorts ports) : files_(std::move(files)), ports_(std::move(ports)) {}

  // Opens every file once and reads each up to its first datagram: a file
  // that cannot be read, has a link type not read here, or breaks before it,
  // fails with a sentence; so does a show with no sACN or Art-Net at all.
  bool Check(std::string* error);
  // From the first file's start again (every loop).
  bool Rewind(std::string* error);
  // 1: datagram filled; 0: end of the show; -1: broken file (error says
  // which and where).
  int Next(ShowDatagram* datagram, std::string* error);

  const SkipCounts& skips() const { return skips_; }
  const std::vector<std::string>& files() const { return files_; }
  // The mean frame interval of the universe seen last (for the loop
  // period); 0 when the show has fewer than two datagrams of it.
  int64_t lastIntervalNs() const { return lastIntervalNs_; }

 private:
  bool OpenFile(size_t index, std::string* error);
  bool Classify(const CapturedFrame& frame, ShowDatagram* datagram);

  std::vector<std::string> files_;
  ShowPorts ports_;
  CaptureReader reader_;
  size_t file_ = 0;
  bool fileStarted_ = false;  // a datagram of the current file has been read
  int64_t shiftNs_ = 0;       // added to the current file's times
  int64_t originNs_ = 0;      // the show's first datagram, in file time
  bool haveOrigin_ = false;
  int64_t lastOffsetNs_ = 0;  // the latest datagram so far
  SkipCounts skips_;
  int64_t lastIntervalNs_ = 0;
  struct KeyTimes {
    uint32_t key;    // protocol and universe
    int64_t first;   // its first datagram's offset
    uint64_t count;  // its datagrams so far
  };
  std::vector<KeyTimes> lastByKey_;  // small: one per universe seen
};

}  // namespace ombrix_capture

#endif  // OMBRIX_CAPTURE_SHOW_READER_H
