#include "network_choice.h"

namespace ombrix_bridge {
namespace {

std::string Describe(const NetworkInterfaceInfo& info) { return info.name + " (" + info.address.to_string() + ")"; }

// An interface that could carry a show: up, not loopback, multicast-capable.
bool Candidate(const NetworkInterfaceInfo& info) { return info.up && !info.loopback && info.multicast; }

void Take(const NetworkInterfaceInfo& info, NetworkChoice* choice) {
  choice->address = info.address;
  choice->interfaceName = info.name;
  choice->mac = info.mac;
  if (!info.loopback) choice->broadcast = info.broadcast;
}

}  // namespace

bool LooksLikeInterfaceName(const std::string& text) {
  if (text.empty() || text.size() > 15) return false;
  for (char c : text) {
    bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                   c == '.' || c == '@';
    if (!allowed) return false;
  }
  return true;
}

bool ChooseNetwork(const std::string& bind, const std::vector<NetworkInterfaceInfo>& interfaces,
                   const std::string& defaultRoute, NetworkChoice* choice, std::string* error) {
  *choice = NetworkChoice();
  asio::error_code failure;
  asio::ip::address address = bind.empty() ? asio::ip::address() : asio::ip::make_address(bind, failure);
  if (!bind.empty() && !failure) {
    choice->address = address;
    if (address.is_unspecified()) {
      choice->description = "every address; multicast joined and sent where the routing table says";
      return true;
    }
    for (const NetworkInterfaceInfo& info : interfaces) {
      if (address.is_v4() && info.address == address.to_v4()) {
        Take(info, choice);
        choice->description = Describe(info);
        return true;
      }
    }
    choice->description = bind;
    return true;
  }
  if (!bind.empty()) {
    for (const NetworkInterfaceInfo& info : interfaces) {
      if (info.name != bind) continue;
      Take(info, choice);
      choice->description = Describe(info);
      if (!info.up) choice->warning = "the interface " + info.name + " is down.";
      return true;
    }
    std::string names;
    for (const NetworkInterfaceInfo& info : interfaces) names += (names.empty() ? "" : ", ") + Describe(info);
    *error = "--bind " + bind +
             ": no network interface of that name has an IPv4 address (there are: " + (names.empty() ? "none" : names) +
             ").";
    return false;
  }

  std::vector<const NetworkInterfaceInfo*> candidates;
  for (const NetworkInterfaceInfo& info : interfaces) {
    if (Candidate(info)) candidates.push_back(&info);
  }
  const NetworkInterfaceInfo* chosen = nullptr;
  for (const NetworkInterfaceInfo* info : candidates) {
    if (info->name == defaultRoute && chosen == nullptr) chosen = info;
  }
  if (chosen != nullptr) {
    choice->description = Describe(*chosen) + ", the default route's";
  } else if (!candidates.empty()) {
    chosen = candidates.front();
    choice->description = Describe(*chosen) + ", the first that carries multicast (no default route)";
  }
  if (chosen == nullptr) {
    choice->address = asio::ip::address_v4::any();
    choice->description = "every address (no interface found that carries multicast)";
    return true;
  }
  Take(*chosen, choice);
  if (candidates.size() > 1) {
    std::string others;
    for (const NetworkInterfaceInfo* info : candidates) {
      if (info != chosen) others += (others.empty() ? "" : ", ") + Describe(*info);
    }
    choice->warning = "more than one network could carry the show: using " + Describe(*chosen) + ", not " + others +
                      "; choose with --bind ADDRESS or --bind INTERFACE.";
  }
  return true;
}

}  // namespace ombrix_bridge
