// Reading and writing multi-byte fields at fixed offsets. Internal to the
// codecs: callers have already checked that the offsets lie inside the span.
#ifndef OMBRIX_PROTOCOLS_BYTE_ORDER_H
#define OMBRIX_PROTOCOLS_BYTE_ORDER_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace ombrix::protocols::bytes {

inline uint16_t Big16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t Big32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
inline uint16_t Little16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline void PutBig16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void PutBig32(uint8_t* p, uint32_t v) {
  PutBig16(p, static_cast<uint16_t>(v >> 16));
  PutBig16(p + 2, static_cast<uint16_t>(v));
}
inline void PutLittle16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// A fixed-size text field: the bytes up to the first NUL, or all of them.
inline std::string_view TextField(const uint8_t* p, size_t size) {
  const void* nul = std::memchr(p, 0, size);
  size_t length = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - p) : size;
  return std::string_view(reinterpret_cast<const char*>(p), length);
}

// Length of the longest prefix of text that fits in limit bytes without
// cutting a UTF-8 character in two.
inline size_t Utf8Prefix(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text.size();
  size_t length = limit;
  // Back off continuation bytes (10xxxxxx) so the cut falls before a lead byte.
  while (length > 0 && (static_cast<uint8_t>(text[length]) & 0xC0) == 0x80) --length;
  return length;
}

// Writes text (cut at a character boundary) into a field of size bytes,
// leaving at least one NUL after it.
inline void PutTextField(uint8_t* p, size_t size, std::string_view text) {
  std::memset(p, 0, size);
  size_t length = Utf8Prefix(text, size - 1);
  if (length > 0) std::memcpy(p, text.data(), length);
}

}  // namespace ombrix::protocols::bytes

#endif  // OMBRIX_PROTOCOLS_BYTE_ORDER_H
