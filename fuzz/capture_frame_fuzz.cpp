// The capture decoder on arbitrary frames of every link type it reads. The
// first byte picks the link type, the rest is the frame, copied to a block
// of exactly its size so that ASan sees any read past the captured length.
// Beyond that: a decoded datagram lies inside the frame, and a frame
// rebuilt from it (raw IP) decodes to the same datagram.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_check.h"
#include "protocols/capture_frame.h"

using namespace ombrix::protocols;

namespace {

const uint32_t kLinkTypes[] = {kLinkTypeNull, kLinkTypeEthernet, kLinkTypeRawDlt12, kLinkTypeRawDlt14,  kLinkTypeRaw,
                               kLinkTypeLoop, kLinkTypeLinuxSll, kLinkTypeIpv4,     kLinkTypeLinuxSll2, 147};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  uint32_t linkType = kLinkTypes[data[0] % (sizeof(kLinkTypes) / sizeof(kLinkTypes[0]))];
  size_t captured = size - 1;
  std::unique_ptr<uint8_t[]> frame(new uint8_t[captured == 0 ? 1 : captured]);
  if (captured > 0) std::memcpy(frame.get(), data + 1, captured);
  UdpView udp;
  FrameResult result = DecodeCapturedFrame(linkType, captured == 0 ? nullptr : frame.get(), captured, &udp);
  if (result != FrameResult::kUdp) return 0;
  FUZZ_CHECK(udp.payload >= frame.get());
  FUZZ_CHECK(udp.payload + udp.size <= frame.get() + captured);
  std::vector<uint8_t> rebuilt(kIpv4UdpHeaderSize + udp.size);
  size_t built = BuildIpv4Udp(udp.source, udp.destination, udp.sourcePort, udp.destinationPort, 1, udp.payload,
                              udp.size, rebuilt.data(), rebuilt.size());
  FUZZ_CHECK(built == rebuilt.size());
  UdpView again;
  FUZZ_CHECK(DecodeCapturedFrame(kLinkTypeRaw, rebuilt.data(), built, &again) == FrameResult::kUdp);
  FUZZ_CHECK(again.source == udp.source && again.destination == udp.destination);
  FUZZ_CHECK(again.sourcePort == udp.sourcePort && again.destinationPort == udp.destinationPort);
  FUZZ_CHECK(again.size == udp.size && std::memcmp(again.payload, udp.payload, udp.size) == 0);
  return 0;
}
