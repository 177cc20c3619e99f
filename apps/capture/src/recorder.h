// `ombrix record`: sACN and Art-Net as they arrive, through the bridge's
// sockets and filters (UdpSocket, AllowList, the parsers), and interface
// input as sACN data packets of this node, written as a pcap file (raw IPv4
// frames) that Wireshark and tshark open as it is.
#ifndef OMBRIX_CAPTURE_RECORDER_H
#define OMBRIX_CAPTURE_RECORDER_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "client/session.h"

namespace ombrix_capture {

struct RecordOptions {
  std::string file;
  std::vector<std::string> universes;  // sacn:U or artnet:N:S:U; empty: all
  std::vector<std::string> ins;        // SERIAL=sacn:U
  std::vector<std::string> allow;
  std::string bind = "0.0.0.0";
  int sacnPort = 5568;
  int artnetPort = 6454;
  int mode = 0;              // of interfaces recorded from
  double seconds = -1;       // < 0: until Ctrl-C or SIGTERM
  uint64_t maxBytes = 0;     // 0: no limit
  bool rotate = false;       // at --max-bytes, go on in the next numbered file
  double rotateSeconds = 0;  // > 0: a new numbered file after this long
  double statusSeconds = 10;
  bool unicastOnly = false;  // join no multicast group
};

// stop (tests): asked between receives as well as the stop request of
// Ctrl-C; true ends the recording as a stop would.
int RunRecord(const ombrix_tool::Api& api, const RecordOptions& options, const std::function<bool()>& stop = nullptr);

// The numbered file of a rotated recording: "show.pcap", 3 -> "show-0003.pcap".
std::string NumberedFile(const std::string& file, int number);

}  // namespace ombrix_capture

#endif  // OMBRIX_CAPTURE_RECORDER_H
