// Which network the bridge uses: --bind gives an address or an interface
// name; without either the bridge takes the interface of the default route,
// says so, and warns when another interface could carry the show as well
// (a machine on Wi-Fi and a show LAN at once). The choice decides where
// groups are joined and multicast is sent, and which MAC the Art-Net
// replies give.
#ifndef OMBRIX_BRIDGE_NETWORK_CHOICE_H
#define OMBRIX_BRIDGE_NETWORK_CHOICE_H

#include <asio/ip/address.hpp>
#include <array>
#include <string>
#include <vector>

namespace ombrix_bridge {

struct NetworkInterfaceInfo {
  std::string name;
  asio::ip::address_v4 address;  // its first IPv4 address
  std::array<uint8_t, 6> mac{};
  bool loopback = false;
  bool up = false;
  bool multicast = false;  // the interface can carry multicast
  // Its subnet's directed broadcast address; unspecified where it has none.
  asio::ip::address_v4 broadcast;
};

// The interfaces with an IPv4 address (network_choice_posix.cpp; on
// Windows none are listed and only addresses are taken).
std::vector<NetworkInterfaceInfo> ListNetworkInterfaces();
// The name of the interface the IPv4 default route goes out of, or empty.
std::string DefaultRouteInterface();

struct NetworkChoice {
  asio::ip::address address;  // what the sockets join and send on; unspecified: all
  std::string interfaceName;  // empty when unknown or every address
  std::array<uint8_t, 6> mac{};
  // The chosen interface's directed broadcast (Art-Net polls go there);
  // unspecified for every address, loopback, or where it is not known.
  asio::ip::address_v4 broadcast;
  std::string description;  // for the first status line, e.g. "eth1 (10.0.0.2), the default route's"
  std::string warning;      // empty, or a sentence for the log
};

// bind: "" (choose), an address, or an interface name. On failure error
// gets a sentence naming the interfaces there are.
bool ChooseNetwork(const std::string& bind, const std::vector<NetworkInterfaceInfo>& interfaces,
                   const std::string& defaultRoute, NetworkChoice* choice, std::string* error);

// Whether text could name an interface (checked before anything opens;
// whether it exists is seen when the bridge starts).
bool LooksLikeInterfaceName(const std::string& text);

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_NETWORK_CHOICE_H
