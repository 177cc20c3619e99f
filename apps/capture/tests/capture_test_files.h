// Capture files written by the tests: pcap through the recorder's writer,
// pcapng (any link type) byte by byte as Wireshark writes it.
#ifndef OMBRIX_CAPTURE_TESTS_CAPTURE_TEST_FILES_H
#define OMBRIX_CAPTURE_TESTS_CAPTURE_TEST_FILES_H

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ombrix_capture_test {

// A path in the test's scratch directory (removed with the process's end
// only if the test removes it; names carry the process id).
inline std::string ScratchPath(const std::string& name) {
  const char* dir = getenv("TMPDIR");
  return std::string(dir ? dir : "/tmp") + "/ombrix-capture-" + std::to_string(getpid()) + "-" + name;
}

// The start of the tests' shows: a time in 2023, in nanoseconds, as a
// capture of today would have it.
constexpr int64_t kBase = 1700000000LL * 1000000000;

struct TimedFrame {
  int64_t timeNs;
  std::vector<uint8_t> bytes;
};

// A pcapng file: a section header, one interface of linkType with
// microsecond timestamps, an enhanced packet block per frame.
inline void WritePcapng(const std::string& path, uint16_t linkType, const std::vector<TimedFrame>& frames) {
  std::vector<uint8_t> out;
  auto u32 = [&out](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  auto u16 = [&out](uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
  };
  u32(0x0A0D0D0A);
  u32(28);
  u32(0x1A2B3C4D);
  u16(1);
  u16(0);
  u32(0xFFFFFFFF);
  u32(0xFFFFFFFF);
  u32(28);
  u32(1);
  u32(20);
  u16(linkType);
  u16(0);
  u32(65535);
  u32(20);
  for (const TimedFrame& frame : frames) {
    uint32_t padded = static_cast<uint32_t>((frame.bytes.size() + 3) / 4 * 4);
    uint64_t micros = static_cast<uint64_t>(frame.timeNs / 1000);
    u32(6);
    u32(32 + padded);
    u32(0);
    u32(static_cast<uint32_t>(micros >> 32));
    u32(static_cast<uint32_t>(micros));
    u32(static_cast<uint32_t>(frame.bytes.size()));
    u32(static_cast<uint32_t>(frame.bytes.size()));
    out.insert(out.end(), frame.bytes.begin(), frame.bytes.end());
    out.resize(out.size() + (padded - frame.bytes.size()), 0);
    u32(32 + padded);
  }
  FILE* file = fopen(path.c_str(), "wb");
  fwrite(out.data(), 1, out.size(), file);
  fclose(file);
}

}  // namespace ombrix_capture_test

#endif  // OMBRIX_CAPTURE_TESTS_CAPTURE_TEST_FILES_H
