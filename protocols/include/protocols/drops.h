// Why a datagram or a packet did not reach the output, counted by kind.
//
// The sACN and Art-Net receivers share one set of kinds so that a status
// line can show every reason side by side. Parsers return a DropKind for a
// datagram they refuse; the source trackers (SacnUniverse, ArtnetPort)
// return one for a well-formed packet they do not use; the bridge adds the
// kinds that only it can see (kNotAllowed, kNotConfigured).
#ifndef OMBRIX_PROTOCOLS_DROPS_H
#define OMBRIX_PROTOCOLS_DROPS_H

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace ombrix::protocols {

enum class DropKind : uint8_t {
  // ---- Datagram shape (both protocols) ----
  kTruncated,            // shorter than its kind's fixed part or than its length fields say
  kOversized,            // longer than the largest packet of its kind
  kBadLengthField,       // a flags-and-length field (sACN) or the ArtDmx length disagrees
                         // with the datagram, or sACN flags other than 0x7
  kBadIdentifier,        // sACN preamble/post-amble/"ASC-E1.17"; Art-Net "Art-Net\0"
  kBadVector,            // unknown or wrong sACN vector, DMP address type, first
                         // address or increment
  kBadPropertyCount,     // sACN property value count 0 or above 513
  kBadUniverse,          // sACN universe (or sync address) 0 or above 63999
  kBadPriority,          // sACN priority above 200
  kBadProtocolVersion,   // Art-Net protocol version below 14
  kUnsupportedOpCode,    // an Art-Net OpCode this node does not handle
  kOddDmxLength,         // ArtDmx length odd
  kDmxLengthOutOfRange,  // ArtDmx length 0 or above 512
  // ---- Well-formed, but not used (source trackers) ----
  kOutOfSequence,   // sACN sequence number behind the last accepted one
  kPreview,         // sACN preview data: never drives an output
  kOtherStartCode,  // a start code other than 0x00 (levels) and 0xDD (per-slot priority)
  kSourceLimit,     // sACN: more sources than the universe tracks; Art-Net: a third source
  kNotSelected,     // a source the universe's "only" merge does not name
  // ---- Seen only by the receiver around the trackers ----
  kNotAllowed,     // sender outside the accepted address ranges
  kNotConfigured,  // universe or port-address that nothing is mapped to
  kCount           // number of kinds, not a kind
};

constexpr size_t kDropKindCount = static_cast<size_t>(DropKind::kCount);

// A short lower-case name for status lines ("truncated", "bad-vector" ...);
// "?" for kCount or anything out of range.
const char* DropKindName(DropKind kind);

// One counter per kind. Counting and reading may happen on different
// threads (a receive thread counts, a status thread reads): the counters are
// relaxed atomics, so a reader sees each count exact but not all of them at
// one instant, which is what a status line needs.
class DropCounters {
 public:
  void Count(DropKind kind, uint64_t n = 1);
  uint64_t Get(DropKind kind) const;
  uint64_t Total() const;
  std::array<uint64_t, kDropKindCount> Snapshot() const;

 private:
  std::array<std::atomic<uint64_t>, kDropKindCount> counts_{};
};

}  // namespace ombrix::protocols

#endif  // OMBRIX_PROTOCOLS_DROPS_H
