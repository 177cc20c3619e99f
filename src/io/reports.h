// The HID report protocol: every report is 34 bytes, report ID 0 and a
// 33-byte payload whose first byte gives its kind. Plain functions over
// bytes and Link fields; no thread or device in them.
#ifndef OMBRIX_IO_REPORTS_H
#define OMBRIX_IO_REPORTS_H

#include <cstdint>

#include "registry/link.h"

namespace ombrix {

constexpr uint8_t kTypeSetMode = 0x10;
constexpr uint8_t kTypeAdvTxConfig = 0x11;  // out: command; in: readback
constexpr uint8_t kTypeStoreConfig = 0x12;
constexpr uint8_t kTypeFrameBlockBase = 0x20;  // frame variant of a block
constexpr uint8_t kTypeHeartbeat = 0x55;

// Builders: each fills all 33 payload bytes.
void BuildDmxBlockReport(uint8_t* payload, uint8_t type, const uint8_t* blockData);
void BuildSetModeReport(uint8_t* payload, uint8_t mode);
void BuildStoreConfigReport(uint8_t* payload);
// Only the low byte of each parameter travels, with a zero high byte; the
// length is always 512 and the last byte 0.
void BuildAdvTxConfigReport(uint8_t* payload, int32_t byteValue, int32_t param1, int32_t param2, int32_t param3,
                            int32_t param4);
// Report ID 0 followed by the payload.
void FrameReport(uint8_t* report, const uint8_t* payload);

// The type byte of block n: the frame variant for queued universes on the
// products that know it, the plain index otherwise.
uint8_t BlockReportType(const Link& link, int block, bool fromQueue);

enum class Received { kNothing, kInputBlock, kConfigReadback, kHeartbeat };
struct Decoded {
  Received kind;
  int block;  // for kInputBlock
};

// Classifies a completed read of length bytes (report ID included) and
// stores what it carries: an input block into the link's inputUniverse, a
// readback into the configuration cache. Reports shorter than 34 bytes and
// unknown types come back as kNothing.
Decoded DecodeReport(Link& link, const uint8_t* report, uint32_t length);

}  // namespace ombrix

#endif  // OMBRIX_IO_REPORTS_H
