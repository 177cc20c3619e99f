#include "udp_socket.h"

#include <asio/ip/multicast.hpp>
#include <cstdlib>

namespace ombrix_bridge {

bool ParseEndpoint(const std::string& text, int defaultPort, Endpoint* endpoint, std::string* error) {
  std::string address = text;
  std::string port;
  if (!text.empty() && text[0] == '[') {
    size_t close = text.find(']');
    if (close != std::string::npos) {
      address = text.substr(1, close - 1);
      if (close + 1 < text.size()) port = text[close + 1] == ':' ? text.substr(close + 2) : "x";
    }
  } else if (text.find(':') == text.rfind(':') && text.find(':') != std::string::npos) {
    address = text.substr(0, text.find(':'));
    port = text.substr(text.find(':') + 1);
  }
  asio::error_code failure;
  asio::ip::address parsed = asio::ip::make_address(address, failure);
  long number = defaultPort;
  if (!failure && !port.empty()) {
    char* end = nullptr;
    number = strtol(port.c_str(), &end, 10);
    if (*end != '\0' || number < 1 || number > 65535) failure = asio::error::invalid_argument;
  }
  if (failure) {
    *error = "\"" + text + "\" is not ADDRESS or ADDRESS:PORT (IPv6 as [ADDRESS]:PORT).";
    return false;
  }
  *endpoint = Endpoint(parsed, static_cast<uint16_t>(number));
  return true;
}

bool UdpSocket::Open(const asio::ip::address& bind, int port, std::string* error) {
  asio::error_code failure;
  bind_ = bind;
  asio::ip::udp protocol = bind.is_v6() ? asio::ip::udp::v6() : asio::ip::udp::v4();
  socket_.open(protocol, failure);
  if (!failure) socket_.set_option(asio::socket_base::reuse_address(true), failure);
  // Room for bursts: a console sends all its universes at once, and a
  // bridge thread kept off the CPU for a moment must not lose them. The
  // kernel caps the size (net.core.rmem_max); asking for more is harmless.
  if (!failure) {
    asio::error_code ignored;
    socket_.set_option(asio::socket_base::receive_buffer_size(4 << 20), ignored);
  }
  if (!failure && bind.is_v4()) socket_.set_option(asio::socket_base::broadcast(true), failure);
  if (!failure && bind.is_v4() && !bind.is_unspecified()) {
    socket_.set_option(asio::ip::multicast::outbound_interface(bind.to_v4()), failure);
  }
  if (!failure) IgnorePortUnreachable(socket_, failure);
  if (!failure && bind.is_v4()) ReceiveEveryJoinedGroup(socket_);
  // Multicast stays looped back, so that receivers on this machine (a
  // visualiser, a console in software) hear what we send; the sACN receiver
  // ignores our own CIDs. (Windows applies the option to receiving instead,
  // where on is just as right: senders on this machine reach the bridge.)
  if (!failure) {
    asio::ip::address any =
        bind.is_v6() ? asio::ip::address(asio::ip::address_v6::any()) : asio::ip::address(asio::ip::address_v4::any());
    socket_.bind(Endpoint(any, static_cast<uint16_t>(port)), failure);
  }
  if (failure) {
    *error = "UDP port " + std::to_string(port) + " could not be opened (" + failure.message() + ").";
    socket_.close(failure);
    return false;
  }
  Receive();
  return true;
}

template <typename Option>
void UdpSocket::SetMembership(asio::ip::udp::socket& socket, const asio::ip::address& group,
                              asio::error_code& failure) {
  failure.clear();
  if (group.is_v4() && bind_.is_v4()) {
    socket.set_option(Option(group.to_v4(), bind_.to_v4()), failure);
  } else {
    socket.set_option(Option(group), failure);
  }
}

bool UdpSocket::JoinOn(asio::ip::udp::socket& socket, const asio::ip::address& group, asio::error_code& failure) {
  SetMembership<asio::ip::multicast::join_group>(socket, group, failure);
  return !failure;
}

bool UdpSocket::Join(const asio::ip::address& group, std::string* error) {
  if (joined(group)) return true;
  asio::error_code failure;
  if (JoinOn(socket_, group, failure)) {
    groups_[group] = nullptr;
    return true;
  }
  // The per-socket limit: the newest membership socket may have room left,
  // else a new one takes the next batch of groups.
  if (failure == asio::error::no_buffer_space) {
    if (!members_.empty() && JoinOn(*members_.back(), group, failure)) {
      groups_[group] = members_.back().get();
      return true;
    }
    auto member = std::make_unique<asio::ip::udp::socket>(io_);
    member->open(group.is_v6() ? asio::ip::udp::v6() : asio::ip::udp::v4(), failure);
    if (!failure && JoinOn(*member, group, failure)) {
      groups_[group] = member.get();
      members_.push_back(std::move(member));
      return true;
    }
  }
  *error = failure.message();
  return false;
}

void UdpSocket::Leave(const asio::ip::address& group) {
  auto found = groups_.find(group);
  if (found == groups_.end()) return;
  asio::ip::udp::socket& socket = found->second ? *found->second : socket_;
  asio::error_code ignored;
  SetMembership<asio::ip::multicast::leave_group>(socket, group, ignored);
  groups_.erase(found);
}

void UdpSocket::Send(const uint8_t* data, size_t size, const Endpoint& to) {
  asio::error_code failure;
  socket_.send_to(asio::buffer(data, size), to, 0, failure);
  if (failure) ++sendFailures_;
}

void UdpSocket::Close() {
  asio::error_code ignored;
  socket_.close(ignored);
  for (const auto& member : members_) member->close(ignored);
  members_.clear();
  groups_.clear();
}

void UdpSocket::Receive() {
  socket_.async_receive_from(asio::buffer(buffer_), sender_, [this](const asio::error_code& failure, size_t size) {
    if (failure == asio::error::operation_aborted || !socket_.is_open()) return;
    if (!failure) handler_(buffer_.data(), size, sender_);
    Receive();
  });
}

}  // namespace ombrix_bridge
