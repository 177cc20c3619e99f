// Who the bridge is on the network when it sends sACN: a CID and a source
// name per interface and universe. The CID is a name-based UUID, so the
// same host, serial and universe give the same CID after every restart and
// receivers keep treating the bridge as the same source, with no state file.
#ifndef OMBRIX_BRIDGE_SACN_IDENTITY_H
#define OMBRIX_BRIDGE_SACN_IDENTITY_H

#include <array>
#include <cstdint>
#include <string>

#include "client/session.h"
#include "host_identity.h"  // HostName()

namespace ombrix_bridge {

using Cid = std::array<uint8_t, 16>;

// A version 5 (SHA-1) UUID from host, serial and universe.
Cid MakeCid(const std::string& host, const ombrix_tool::Serial& serial, uint16_t universe);

// "<host> ombrix <serial>", cut to the 63 bytes the packet holds (never
// inside a UTF-8 sequence).
std::string SourceName(const std::string& host, const ombrix_tool::Serial& serial);

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_SACN_IDENTITY_H
