// The status snapshot as the JSON of GET /api/status and of each event of
// the page's stream (fields documented in docs/bridge.md).
#ifndef OMBRIX_BRIDGE_HTTP_STATUS_JSON_H
#define OMBRIX_BRIDGE_HTTP_STATUS_JSON_H

#include <string>

#include "status_snapshot.h"

namespace ombrix_bridge {

// Compact JSON, valid UTF-8 whatever the strings hold (invalid sequences
// become U+FFFD).
std::string StatusJson(const StatusSnapshot& snapshot);

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_HTTP_STATUS_JSON_H
