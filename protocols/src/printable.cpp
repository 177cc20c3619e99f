// Printable form of received text.
#include "protocols/printable.h"

#include <cstdint>

namespace ombrix::protocols {
namespace {

// Length of the valid UTF-8 sequence at text[i] and its code point, or 0
// when the bytes there do not form one (overlong forms, surrogates and
// code points above U+10FFFF are invalid too).
size_t DecodeUtf8(std::string_view text, size_t i, uint32_t& codePoint) {
  uint8_t lead = static_cast<uint8_t>(text[i]);
  size_t length;
  uint32_t minimum;
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, minimum = 0x80, codePoint = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, codePoint = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, minimum = 0x10000, codePoint = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    uint8_t next = static_cast<uint8_t>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    return 0;
  }
  return length;
}

bool IsControl(uint32_t codePoint) {
  return codePoint < 0x20 || codePoint == 0x7F || (codePoint >= 0x80 && codePoint < 0xA0);
}

}  // namespace

std::string PrintableText(std::string_view text) {
  std::string printable;
  printable.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    uint32_t codePoint = 0;
    size_t length = DecodeUtf8(text, i, codePoint);
    if (length == 0 || IsControl(codePoint)) {
      printable.push_back('?');
      i += length == 0 ? 1 : length;
    } else {
      printable.append(text.substr(i, length));
      i += length;
    }
  }
  return printable;
}

}  // namespace ombrix::protocols
