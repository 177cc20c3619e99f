// The player's file reader on arbitrary files: libpcap's pcap and pcapng
// readers behind ombrix's CaptureReader (fed from memory), each record
// decoded down to UDP and parsed as sACN or Art-Net as the player does.
// Every outcome must be a frame, the end, or one sentence naming the file,
// never a crash or a read outside a record.
#include <cstdio>
#include <cstring>
#include <string>

#include "capture_file.h"
#include "fuzz_check.h"
#include "protocols/artnet_packet.h"
#include "protocols/capture_frame.h"
#include "protocols/sacn_packet.h"

using namespace ombrix::protocols;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (stream == nullptr) return 0;
  ombrix_capture::CaptureReader reader;
  std::string error;
  if (!reader.Open(stream, "fuzz.pcap", &error)) {
    FUZZ_CHECK(error.rfind("fuzz.pcap", 0) == 0 && error.back() == '.');
    return 0;
  }
  ombrix_capture::CapturedFrame frame;
  int result;
  for (int records = 0; records < 10000 && (result = reader.Next(&frame, &error)) == 1; ++records) {
    FUZZ_CHECK(frame.offset < size);
    UdpView udp;
    if (DecodeCapturedFrame(reader.linkType(), frame.data, frame.captured, &udp) != FrameResult::kUdp) continue;
    FUZZ_CHECK(udp.payload >= frame.data && udp.payload + udp.size <= frame.data + frame.captured);
    ParseSacn(udp.payload, udp.size);
    ParseArtnet(udp.payload, udp.size);
  }
  if (result < 0) FUZZ_CHECK(error.rfind("fuzz.pcap is broken at byte ", 0) == 0 && error.back() == '.');
  return 0;
}
