#include <netinet/in.h>

#include "udp_socket.h"

namespace ombrix_bridge {

// Linux and the BSDs report an unreachable port only to a connected UDP
// socket, which the bridge's never are: nothing to turn off.
void IgnorePortUnreachable(asio::ip::udp::socket&, asio::error_code& failure) { failure.clear(); }

void ReceiveEveryJoinedGroup(asio::ip::udp::socket& socket) {
#ifdef IP_MULTICAST_ALL
  int on = 1;
  setsockopt(socket.native_handle(), IPPROTO_IP, IP_MULTICAST_ALL, &on, sizeof(on));
#else
  (void)socket;
#endif
}

}  // namespace ombrix_bridge
