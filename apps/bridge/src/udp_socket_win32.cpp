#include <winsock2.h>
#include <mstcpip.h>

#include "udp_socket.h"

namespace ombrix_bridge {

// Windows reports a datagram that an unreachable port refused by failing
// the socket's next receive (WSAECONNRESET), even on an unconnected socket.
// A target or poller that went away must not disturb receiving from
// everyone else, so that report is turned off; a system that does not know
// the request loses nothing but the quiet.
void IgnorePortUnreachable(asio::ip::udp::socket& socket, asio::error_code& failure) {
  failure.clear();
  BOOL report = FALSE;
  DWORD returned = 0;
  WSAIoctl(socket.native_handle(), SIO_UDP_CONNRESET, &report, sizeof(report), nullptr, 0, &returned, nullptr, nullptr);
}

void ReceiveEveryJoinedGroup(asio::ip::udp::socket&) {}

}  // namespace ombrix_bridge
