#include <asio/ip/multicast.hpp>

#include "udp_socket.h"

namespace ombrix_bridge {

// On POSIX systems the option acts on sending: our own multicast must not
// come back to us as if another source sent it.
void ApplySystemOptions(asio::ip::udp::socket& socket, asio::error_code& failure) {
  socket.set_option(asio::ip::multicast::enable_loopback(false), failure);
}

}  // namespace ombrix_bridge
