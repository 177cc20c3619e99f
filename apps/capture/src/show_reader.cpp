#include "show_reader.h"

#include "protocols/artnet_layout.h"
#include "protocols/byte_order.h"
#include "protocols/sacn_layout.h"

namespace ombrix_capture {

using namespace ombrix::protocols;

uint64_t SkipCounts::skipped() const {
  uint64_t total = otherUdp;
  for (size_t i = 1; i < byResult.size(); ++i) total += byResult[i];
  return total;
}

std::string SkipCounts::Text() const {
  std::string text;
  auto add = [&text](uint64_t count, const std::string& what) {
    if (count == 0) return;
    if (!text.empty()) text += ", ";
    text += std::to_string(count) + " " + what;
  };
  for (size_t i = 1; i < byResult.size(); ++i) add(byResult[i], FrameResultName(static_cast<FrameResult>(i)));
  add(otherUdp, "other UDP");
  return text.empty() ? "none" : text;
}

bool ShowReader::OpenFile(size_t index, std::string* error) {
  file_ = index;
  fileStarted_ = false;
  if (!reader_.Open(files_[index], error)) return false;
  if (!KnownLinkType(reader_.linkType())) {
    *error = files_[index] + " has link type " + std::to_string(reader_.linkType()) +
             ", which is not Ethernet, Linux cooked (SLL, SLL2), raw IP or loopback.";
    return false;
  }
  return true;
}

bool ShowReader::Classify(const CapturedFrame& frame, ShowDatagram* datagram) {
  ++skips_.frames;
  FrameResult result = DecodeCapturedFrame(reader_.linkType(), frame.data, frame.captured, &datagram->udp);
  if (result != FrameResult::kUdp) {
    ++skips_.byResult[static_cast<size_t>(result)];
    return false;
  }
  uint16_t port = datagram->udp.destinationPort;
  if (ports_.sacn.count(port) != 0) {
    datagram->protocol = ShowProtocol::kSacn;
  } else if (ports_.artnet.count(port) != 0) {
    datagram->protocol = ShowProtocol::kArtnet;
  } else {
    ++skips_.otherUdp;
    return false;
  }
  return true;
}

bool ShowReader::Check(std::string* error) {
  bool any = false;
  for (size_t index = 0; index < files_.size(); ++index) {
    if (!OpenFile(index, error)) return false;
    CapturedFrame frame;
    ShowDatagram datagram;
    int result;
    while ((result = reader_.Next(&frame, error)) == 1) {
      if (Classify(frame, &datagram)) {
        any = true;
        break;
      }
    }
    if (result < 0) return false;
  }
  skips_ = SkipCounts();
  if (!any) {
    *error = (files_.size() == 1 ? files_[0] + " holds" : "None of the files holds") +
             std::string(
                 " no sACN or Art-Net datagram (UDP to port 5568 or 6454, or a port given with --sacn-port or "
                 "--artnet-port).");
    return false;
  }
  return Rewind(error);
}

bool ShowReader::Rewind(std::string* error) {
  shiftNs_ = 0;
  haveOrigin_ = false;
  lastOffsetNs_ = 0;
  lastByKey_.clear();
  return OpenFile(0, error);
}

int ShowReader::Next(ShowDatagram* datagram, std::string* error) {
  for (;;) {
    CapturedFrame frame;
    int result = reader_.Next(&frame, error);
    if (result < 0) return -1;
    if (result == 0) {
      reader_.Close();
      if (file_ + 1 >= files_.size()) return 0;
      if (!OpenFile(file_ + 1, error)) return -1;
      continue;
    }
    if (!Classify(frame, datagram)) continue;
    if (!haveOrigin_) {
      originNs_ = frame.timeNs;
      haveOrigin_ = true;
    }
    if (!fileStarted_) {
      fileStarted_ = true;
      // A later file that starts before the show so far ends is moved to
      // follow it.
      int64_t offset = frame.timeNs - originNs_;
      if (file_ > 0 && offset < lastOffsetNs_) {
        int64_t gap = lastIntervalNs_ > 0 ? lastIntervalNs_ : 1000000000 / 44;
        shiftNs_ = lastOffsetNs_ + gap - offset;
      } else {
        shiftNs_ = 0;
      }
    }
    int64_t offset = frame.timeNs - originNs_ + shiftNs_;
    // Records out of order by a little (captures merged from two
    // interfaces) are played at once rather than moved back in time.
    if (offset < lastOffsetNs_) offset = lastOffsetNs_;
    datagram->offsetNs = offset;
    datagram->file = file_;
    datagram->fileOffset = frame.offset;
    // The universe (or port-address) for the loop period's interval.
    uint32_t key = (datagram->protocol == ShowProtocol::kSacn ? 0x10000u : 0x20000u);
    const UdpView& udp = datagram->udp;
    if (datagram->protocol == ShowProtocol::kSacn && udp.size >= sacn::kDataUniverse + 2) {
      key |= bytes::Big16(udp.payload + sacn::kDataUniverse);
    } else if (datagram->protocol == ShowProtocol::kArtnet && udp.size >= artnet::kDmxNet + 1) {
      key |= bytes::Little16(udp.payload + artnet::kDmxSubUni);  // SubUni, then Net
    }
    // The mean interval of the universe, from its first datagram to this
    // one: steadier than the last interval alone, which carries its jitter.
    bool found = false;
    for (KeyTimes& entry : lastByKey_) {
      if (entry.key != key) continue;
      ++entry.count;
      lastIntervalNs_ = (offset - entry.first) / static_cast<int64_t>(entry.count - 1);
      found = true;
    }
    if (!found && lastByKey_.size() < 1024) lastByKey_.push_back({key, offset, 1});
    lastOffsetNs_ = offset;
    return 1;
  }
}

}  // namespace ombrix_capture
