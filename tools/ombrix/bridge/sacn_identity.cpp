#include "sacn_identity.h"

#include <unistd.h>
#include <uuid/uuid.h>

namespace ombrix_bridge {
namespace {

// This bridge's own UUID namespace; changing it would give every installed
// bridge new CIDs.
const char kCidNamespace[] = "5b0e3f2a-7c41-4d8e-9a36-0f6c1d2e8b57";

}  // namespace

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof(name) - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

Cid MakeCid(const std::string& host, const ombrix_tool::Serial& serial, uint16_t universe) {
  uuid_t space;
  uuid_parse(kCidNamespace, space);
  std::string name = host + "/" + std::string(serial.begin(), serial.end()) + "/" + std::to_string(universe);
  uuid_t out;
  uuid_generate_sha1(out, space, name.data(), name.size());
  Cid cid;
  for (size_t i = 0; i < cid.size(); ++i) cid[i] = out[i];
  return cid;
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
