// One UDP socket of the bridge (sACN or Art-Net): bound to its port on
// every address so that unicast, broadcast and joined multicast all
// arrive, receiving without end on the bridge thread, and sending from the
// same port, as both protocols expect of a node.
#ifndef OMBRIX_BRIDGE_UDP_SOCKET_H
#define OMBRIX_BRIDGE_UDP_SOCKET_H

#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace ombrix_bridge {

using Endpoint = asio::ip::udp::endpoint;

// "ADDRESS", "ADDRESS:PORT" or "[IPv6]:PORT"; a bare address gets
// defaultPort. On failure error gets a sentence.
bool ParseEndpoint(const std::string& text, int defaultPort, Endpoint* endpoint, std::string* error);

// A datagram that an unreachable port refused must not fail the socket's
// next receive (udp_socket_posix.cpp, udp_socket_win32.cpp).
void IgnorePortUnreachable(asio::ip::udp::socket& socket, asio::error_code& failure);

class UdpSocket {
 public:
  using Handler = std::function<void(const uint8_t* data, size_t size, const Endpoint& sender)>;

  // Handler runs on the thread that runs the io_context (the bridge thread).
  UdpSocket(asio::io_context& io, Handler handler) : io_(io), socket_(io), handler_(std::move(handler)) {}

  // Binds to port on every IPv4 address (or every address of the family of
  // bind), with multicast sent out of, and joined on, the interface that
  // owns bind. Starts receiving.
  bool Open(const asio::ip::address& bind, int port, std::string* error);
  // Joins a multicast group on the bound interface; error on failure.
  bool Join(const asio::ip::address& group, std::string* error);
  // Sends at once; a failure is counted, never fatal (an unreachable
  // target must not stop the node).
  void Send(const uint8_t* data, size_t size, const Endpoint& to);
  void Close();

  asio::io_context& io() { return io_; }
  uint64_t sendFailures() const { return sendFailures_; }  // bridge thread

 private:
  void Receive();

  asio::io_context& io_;
  asio::ip::udp::socket socket_;
  Handler handler_;
  asio::ip::address bind_;
  std::array<uint8_t, 2048> buffer_{};  // larger than any packet either protocol allows
  Endpoint sender_;
  uint64_t sendFailures_ = 0;
};

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_UDP_SOCKET_H
