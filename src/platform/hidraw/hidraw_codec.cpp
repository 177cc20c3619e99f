#include "platform/hidraw/hidraw_codec.h"

#include <cstring>

namespace ombrix::hidraw {
namespace {

constexpr uint32_t kReplacement = 0xFFFD;

// Decodes one scalar value starting at text[*position] and advances past
// it; an ill-formed sequence yields U+FFFD and advances by its maximal
// well-formed prefix (at least one byte), as Unicode recommends.
uint32_t DecodeOne(const unsigned char* text, size_t length, size_t* position) {
  unsigned char lead = text[*position];
  ++*position;
  if (lead < 0x80) return lead;
  int trailing;
  uint32_t value;
  uint32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trailing = 1, value = lead & 0x1Fu, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trailing = 2, value = lead & 0x0Fu, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trailing = 3, value = lead & 0x07u, minimum = 0x10000;
  } else {
    return kReplacement;  // a stray continuation byte or an invalid lead
  }
  for (int i = 0; i < trailing; ++i) {
    if (*position >= length || (text[*position] & 0xC0) != 0x80 || text[*position] == 0) {
      return kReplacement;
    }
    value = (value << 6) | (text[*position] & 0x3Fu);
    ++*position;
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return kReplacement;
  return value;
}

}  // namespace

size_t Utf8ToUtf16(const char* text, size_t length, uint16_t* out, size_t capacityUnits) {
  if (capacityUnits == 0) return 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  size_t written = 0;
  size_t position = 0;
  while (position < length && bytes[position] != 0) {
    uint32_t value = DecodeOne(bytes, length, &position);
    size_t needed = value > 0xFFFF ? 2 : 1;
    if (written + needed > capacityUnits - 1) break;  // keep room for the NUL
    if (needed == 2) {
      value -= 0x10000;
      out[written++] = static_cast<uint16_t>(0xD800 + (value >> 10));
      out[written++] = static_cast<uint16_t>(0xDC00 + (value & 0x3FF));
    } else {
      out[written++] = static_cast<uint16_t>(value);
    }
  }
  out[written] = 0;
  return written;
}

bool DescriptorUsesReportIds(const uint8_t* descriptor, size_t length) {
  size_t position = 0;
  while (position < length) {
    uint8_t prefix = descriptor[position];
    if (prefix == 0xFE) {  // long item: size byte, tag byte, data
      if (position + 1 >= length) return false;
      position += 3 + descriptor[position + 1];
      continue;
    }
    static const size_t kDataBytes[4] = {0, 1, 2, 4};
    size_t data = kDataBytes[prefix & 0x03];
    if (position + 1 + data > length) return false;
    if ((prefix & 0xFC) == 0x84) return true;  // global item, tag 8: Report ID
    position += 1 + data;
  }
  return false;
}

uint32_t RestoreReportId(const uint8_t* received, size_t count, bool numberedReports, uint8_t* out, uint32_t capacity) {
  size_t total = numberedReports ? count : count + 1;
  if (total > capacity) return 0;
  if (numberedReports) {
    std::memcpy(out, received, count);
  } else {
    out[0] = 0;
    std::memcpy(out + 1, received, count);
  }
  return static_cast<uint32_t>(total);
}

}  // namespace ombrix::hidraw
