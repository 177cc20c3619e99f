// What the sACN identity needs from the operating system: the host's name
// and a name-based (version 5, SHA-1) UUID. libuuid serves on POSIX
// (host_identity_posix.cpp), the system's BCrypt on Windows
// (host_identity_win32.cpp); both give the same bytes for the same inputs,
// so a configuration keeps its CIDs whichever system runs it.
#ifndef OMBRIX_BRIDGE_HOST_IDENTITY_H
#define OMBRIX_BRIDGE_HOST_IDENTITY_H

#include <array>
#include <cstdint>
#include <string>

namespace ombrix_bridge {

using Uuid = std::array<uint8_t, 16>;

// The host's name as the network knows it; "localhost" when it has none.
std::string HostName();

// The RFC 4122 version 5 UUID of name in the namespace space.
Uuid NameBasedUuid(const Uuid& space, const std::string& name);

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_HOST_IDENTITY_H
