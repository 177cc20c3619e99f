// Writing packet vectors by hand in the tests: hex text with spaces, runs
// of zero bytes, and ASCII text, joined in wire order.
#ifndef OMBRIX_TESTS_PROTOCOLS_BYTE_VECTORS_H
#define OMBRIX_TESTS_PROTOCOLS_BYTE_VECTORS_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

namespace ombrix_test {

using Bytes = std::vector<uint8_t>;

// "00 10 7a" -> {0x00, 0x10, 0x7A}; whitespace anywhere between pairs.
inline Bytes Hex(const std::string& text) {
  Bytes bytes;
  int high = -1;
  for (char c : text) {
    int value;
    if (c >= '0' && c <= '9')
      value = c - '0';
    else if (c >= 'a' && c <= 'f')
      value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      value = c - 'A' + 10;
    else if (c == ' ' || c == '\n')
      continue;
    else
      throw std::invalid_argument("not hex: " + text);
    if (high < 0) {
      high = value;
    } else {
      bytes.push_back(static_cast<uint8_t>(high << 4 | value));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("odd number of hex digits: " + text);
  return bytes;
}

inline Bytes Zeros(size_t count) { return Bytes(count, 0); }

// The characters of text, then NULs up to size bytes.
inline Bytes TextField(const std::string& text, size_t size) {
  Bytes bytes(text.begin(), text.end());
  bytes.resize(size, 0);
  return bytes;
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes joined;
  for (const Bytes& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

}  // namespace ombrix_test

#endif  // OMBRIX_TESTS_PROTOCOLS_BYTE_VECTORS_H
