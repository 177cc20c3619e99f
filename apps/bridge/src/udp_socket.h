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
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ombrix_bridge {

using Endpoint = asio::ip::udp::endpoint;

// "ADDRESS", "ADDRESS:PORT" or "[IPv6]:PORT"; a bare address gets
// defaultPort. On failure error gets a sentence.
bool ParseEndpoint(const std::string& text, int defaultPort, Endpoint* endpoint, std::string* error);

// A datagram that an unreachable port refused must not fail the socket's
// next receive (udp_socket_posix.cpp, udp_socket_win32.cpp).
void IgnorePortUnreachable(asio::ip::udp::socket& socket, asio::error_code& failure);

// The socket receives the datagrams of every group a socket of this
// process joined on the port, not only its own joins, so that groups held
// by membership sockets arrive here (Linux: IP_MULTICAST_ALL, on by default
// and set again in case; elsewhere groups are not spread and nothing is
// needed).
void ReceiveEveryJoinedGroup(asio::ip::udp::socket& socket);

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
  // When the kernel refuses this socket another group (Linux allows
  // net.ipv4.igmp_max_memberships, 20 by default, per socket), the group is
  // joined through a membership socket of its own, as many as needed; this
  // socket still receives the group's datagrams (IP_MULTICAST_ALL, on by
  // default, delivers a group joined by any socket of the host to sockets
  // bound to the port on every address).
  bool Join(const asio::ip::address& group, std::string* error);
  // Leaves a group joined with Join (nothing when it was not).
  void Leave(const asio::ip::address& group);
  bool joined(const asio::ip::address& group) const { return groups_.count(group) != 0; }
  size_t membershipSockets() const { return members_.size(); }  // bridge thread
  // Sends at once; a failure is counted, never fatal (an unreachable
  // target must not stop the node).
  void Send(const uint8_t* data, size_t size, const Endpoint& to);
  void Close();

  asio::io_context& io() { return io_; }
  uint64_t sendFailures() const { return sendFailures_; }  // bridge thread

 private:
  void Receive();
  bool JoinOn(asio::ip::udp::socket& socket, const asio::ip::address& group, asio::error_code& failure);
  // Joins or leaves (Option: asio's join_group or leave_group) group on
  // socket, on the bound interface where there is one.
  template <typename Option>
  void SetMembership(asio::ip::udp::socket& socket, const asio::ip::address& group, asio::error_code& failure);

  asio::io_context& io_;
  asio::ip::udp::socket socket_;
  Handler handler_;
  asio::ip::address bind_;
  std::array<uint8_t, 2048> buffer_{};  // larger than any packet either protocol allows
  Endpoint sender_;
  uint64_t sendFailures_ = 0;
  // Sockets that only hold group memberships (never bound to the port, so
  // they receive nothing), and which socket holds each group: null, this
  // one. Bridge thread.
  std::vector<std::unique_ptr<asio::ip::udp::socket>> members_;
  std::map<asio::ip::address, asio::ip::udp::socket*> groups_;
};

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_UDP_SOCKET_H
