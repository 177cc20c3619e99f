#include "udp_socket.h"

namespace ombrix_bridge {

// Linux and the BSDs report an unreachable port only to a connected UDP
// socket, which the bridge's never are: nothing to turn off.
void IgnorePortUnreachable(asio::ip::udp::socket&, asio::error_code& failure) { failure.clear(); }

}  // namespace ombrix_bridge
