// Drop kind names and counters.
#include "protocols/drops.h"

namespace ombrix::protocols {

const char* DropKindName(DropKind kind) {
  switch (kind) {
    case DropKind::kTruncated:
      return "truncated";
    case DropKind::kOversized:
      return "oversized";
    case DropKind::kBadLengthField:
      return "bad-length-field";
    case DropKind::kBadIdentifier:
      return "bad-identifier";
    case DropKind::kBadVector:
      return "bad-vector";
    case DropKind::kBadPropertyCount:
      return "bad-property-count";
    case DropKind::kBadUniverse:
      return "bad-universe";
    case DropKind::kBadPriority:
      return "bad-priority";
    case DropKind::kBadProtocolVersion:
      return "bad-protocol-version";
    case DropKind::kUnsupportedOpCode:
      return "unsupported-opcode";
    case DropKind::kOddDmxLength:
      return "odd-dmx-length";
    case DropKind::kDmxLengthOutOfRange:
      return "dmx-length-out-of-range";
    case DropKind::kOutOfSequence:
      return "out-of-sequence";
    case DropKind::kPreview:
      return "preview";
    case DropKind::kOtherStartCode:
      return "other-start-code";
    case DropKind::kSourceLimit:
      return "source-limit";
    case DropKind::kNotSelected:
      return "not-selected";
    case DropKind::kNotAllowed:
      return "not-allowed";
    case DropKind::kNotConfigured:
      return "not-configured";
    case DropKind::kCount:
      break;
  }
  return "?";
}

void DropCounters::Count(DropKind kind, uint64_t n) {
  size_t index = static_cast<size_t>(kind);
  if (index < kDropKindCount) counts_[index].fetch_add(n, std::memory_order_relaxed);
}

uint64_t DropCounters::Get(DropKind kind) const {
  size_t index = static_cast<size_t>(kind);
  return index < kDropKindCount ? counts_[index].load(std::memory_order_relaxed) : 0;
}

uint64_t DropCounters::Total() const {
  uint64_t total = 0;
  for (const auto& count : counts_) total += count.load(std::memory_order_relaxed);
  return total;
}

std::array<uint64_t, kDropKindCount> DropCounters::Snapshot() const {
  std::array<uint64_t, kDropKindCount> copy{};
  for (size_t i = 0; i < kDropKindCount; ++i) copy[i] = counts_[i].load(std::memory_order_relaxed);
  return copy;
}

}  // namespace ombrix::protocols
