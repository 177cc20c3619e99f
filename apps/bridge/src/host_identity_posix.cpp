#include <unistd.h>
#include <uuid/uuid.h>

#include "host_identity.h"

namespace ombrix_bridge {

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof(name) - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

Uuid NameBasedUuid(const Uuid& space, const std::string& name) {
  uuid_t in;
  for (size_t i = 0; i < space.size(); ++i) in[i] = space[i];
  uuid_t out;
  uuid_generate_sha1(out, in, name.data(), name.size());
  Uuid uuid;
  for (size_t i = 0; i < uuid.size(); ++i) uuid[i] = out[i];
  return uuid;
}

}  // namespace ombrix_bridge
