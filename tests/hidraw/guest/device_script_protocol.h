// What a Windows test program running under Wine in the QEMU guest and the
// Linux device server beside it (which owns the uhid devices) agree on.
//
// They share only the guest's /tmp, which Wine shows as Z:\tmp. A rename
// across that mapping fails, so every file is written whole, in one go, and
// its last line is kEndMarker: a reader that does not find the marker yet
// has caught the file half written and reads it again later.
//
// An exchange: the program writes request-<tag>.txt (one command line; the
// tag is unique to the program and the exchange), the server answers with
// reply-<tag>.txt, whose first line is "OK" or
// "ERROR <why>" followed by the command's result lines. Each side deletes
// the file it has read. Commands:
//   list                  present devices, one "<name> <vendor> <product> <serial>" line each (hex IDs)
//   reports <name>        the output reports received since the last clear, one hex line each
//   wait <name> <n> <ms>  as reports, once n have arrived or ms have passed
//   clear <name>          forgets the received reports
//   input <name> <hex>    sends one input report (payload without report ID)
//   unplug <name>         destroys the device
// The server writes devices.txt (same lines as list) once every device is
// up and its hidraw node exists; Wine must start only after that, since it
// lists only the devices present when it starts.
#ifndef OMBRIX_TESTS_HIDRAW_GUEST_DEVICE_SCRIPT_PROTOCOL_H
#define OMBRIX_TESTS_HIDRAW_GUEST_DEVICE_SCRIPT_PROTOCOL_H

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace device_script {

constexpr const char* kEndMarker = "END";
constexpr const char* kLinuxDirectory = "/tmp/ombrix-devices";
constexpr const char* kWindowsDirectory = "Z:\\tmp\\ombrix-devices";
constexpr const char* kManifestName = "devices.txt";

// The devices of the tier. Every walk through Wine's HID stack opens each
// device, which is slow under emulation, so the two word sizes' runs share
// the devices they leave as they found them; each run unplugs a device of
// its own, whose serial is "<set>-<role>" with the set "W64" or "W32"
// (two devices with the same IDs and serial would collide in Wine's
// device tree).
struct Role {
  const char* role;
  uint16_t vendor;
  uint16_t product;
  bool perSet;
};

constexpr uint16_t kFamilyVendor = 0x16D0;

constexpr Role kRoles[] = {
    {"TYPE1-0754", kFamilyVendor, 0x0754, false},   // listed, type 1
    {"POLLED-0830", kFamilyVendor, 0x0830, false},  // polled output, type 1
    {"TYPE2-0832", kFamilyVendor, 0x0832, false},   // input and heartbeat, type 2
    {"QUEUED-0833", kFamilyVendor, 0x0833, false},  // queued universes, frame variant, type 3
    {"OTHERVENDOR", 0x1234, 0x0754, false},         // family product, foreign vendor: never listed
    {"OTHERPROD", kFamilyVendor, 0x0831, false},    // family vendor, foreign product: never listed
    {"UNPLUG-0830", kFamilyVendor, 0x0830, true},   // unplugged under an open link
};

// The release number the server gives every device.
constexpr uint16_t kVersionNumber = 0x0123;

// The lines of a file's contents without the end marker; false while the
// marker is missing, i.e. the file is not yet written whole. Carriage
// returns are dropped: either side may have written the file.
inline bool MarkedLines(const std::string& contents, std::vector<std::string>* lines) {
  lines->clear();
  std::istringstream stream(contents);
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines->push_back(line);
  }
  if (lines->empty() || lines->back() != kEndMarker) return false;
  lines->pop_back();
  return true;
}

// Reports travel as lower-case hex, two digits a byte.
inline std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

inline bool FromHex(const std::string& text, std::vector<uint8_t>* bytes) {
  if (text.size() % 2 != 0) return false;
  bytes->clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    char* end = nullptr;
    std::string pair = text.substr(i, 2);
    unsigned long value = std::strtoul(pair.c_str(), &end, 16);
    if (end != pair.c_str() + 2) return false;
    bytes->push_back(static_cast<uint8_t>(value));
  }
  return true;
}

}  // namespace device_script

#endif  // OMBRIX_TESTS_HIDRAW_GUEST_DEVICE_SCRIPT_PROTOCOL_H
