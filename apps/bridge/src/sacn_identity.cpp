#include "sacn_identity.h"

#include "host_identity.h"

namespace ombrix_bridge {
namespace {

// This bridge's own UUID namespace, 5b0e3f2a-7c41-4d8e-9a36-0f6c1d2e8b57;
// changing it would give every installed bridge new CIDs.
constexpr Uuid kCidNamespace = {0x5b, 0x0e, 0x3f, 0x2a, 0x7c, 0x41, 0x4d, 0x8e,
                                0x9a, 0x36, 0x0f, 0x6c, 0x1d, 0x2e, 0x8b, 0x57};

}  // namespace

Cid MakeCid(const std::string& host, const ombrix_tool::Serial& serial, uint16_t universe) {
  std::string name = host + "/" + std::string(serial.begin(), serial.end()) + "/" + std::to_string(universe);
  return NameBasedUuid(kCidNamespace, name);
}

std::string SourceName(const std::string& host, const ombrix_tool::Serial& serial) {
  std::string name = host + " ombrix " + ombrix_tool::SerialText(serial);
  if (name.size() <= 63) return name;
  size_t cut = 63;
  // Step back over continuation bytes so no character is split.
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut);
}

}  // namespace ombrix_bridge
