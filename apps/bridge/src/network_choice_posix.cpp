// Linux and the BSDs: getifaddrs for the interfaces and their MACs; the
// default route from /proc/net/route where there is one (Linux).
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#ifdef __linux__
#include <netpacket/packet.h>
#endif

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "network_choice.h"

namespace ombrix_bridge {

std::vector<NetworkInterfaceInfo> ListNetworkInterfaces() {
  std::vector<NetworkInterfaceInfo> list;
  std::map<std::string, std::array<uint8_t, 6>> macs;
  ifaddrs* all = nullptr;
  if (getifaddrs(&all) != 0) return list;
  for (ifaddrs* entry = all; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr) continue;
#ifdef __linux__
    if (entry->ifa_addr->sa_family == AF_PACKET) {
      const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
      std::array<uint8_t, 6> mac{};
      if (link->sll_halen == 6) std::memcpy(mac.data(), link->sll_addr, 6);
      macs[entry->ifa_name] = mac;
      continue;
    }
#endif
    if (entry->ifa_addr->sa_family != AF_INET) continue;
    bool known = false;
    for (const NetworkInterfaceInfo& info : list) known = known || info.name == entry->ifa_name;
    if (known) continue;  // its first address is the one used
    NetworkInterfaceInfo info;
    info.name = entry->ifa_name;
    const auto* inet = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    info.address = asio::ip::address_v4(ntohl(inet->sin_addr.s_addr));
    info.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
    // The directed broadcast is the address with the host bits set; an
    // address added without "brd" has no broadcast address of its own.
    if ((entry->ifa_flags & IFF_BROADCAST) != 0 && entry->ifa_netmask != nullptr &&
        entry->ifa_netmask->sa_family == AF_INET) {
      uint32_t mask = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr);
      if (mask != 0xFFFFFFFFu) info.broadcast = asio::ip::address_v4(info.address.to_uint() | ~mask);
    }
    info.up = (entry->ifa_flags & IFF_UP) != 0 && (entry->ifa_flags & IFF_RUNNING) != 0;
    info.multicast = (entry->ifa_flags & IFF_MULTICAST) != 0;
    list.push_back(info);
  }
  freeifaddrs(all);
  for (NetworkInterfaceInfo& info : list) {
    auto mac = macs.find(info.name);
    if (mac != macs.end()) info.mac = mac->second;
  }
  return list;
}

std::string DefaultRouteInterface() {
  // Iface Destination Gateway Flags RefCnt Use Metric Mask ...: the default
  // route has destination and mask 0; of several, the lowest metric wins.
  std::ifstream routes("/proc/net/route");
  std::string line, best;
  long bestMetric = -1;
  std::getline(routes, line);  // the header
  while (std::getline(routes, line)) {
    std::istringstream fields(line);
    std::string name, destination, gateway, mask;
    long flags = 0, references = 0, use = 0, metric = 0;
    if (!(fields >> name >> destination >> gateway >> std::hex >> flags >> std::dec >> references >> use >> metric >>
          mask)) {
      continue;
    }
    bool up = (flags & 0x1) != 0;
    if (!up || destination != "00000000" || mask != "00000000") continue;
    if (bestMetric < 0 || metric < bestMetric) {
      best = name;
      bestMetric = metric;
    }
  }
  return best;
}

}  // namespace ombrix_bridge
