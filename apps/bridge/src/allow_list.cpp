#include "allow_list.h"

#include <cstdlib>

namespace ombrix_bridge {
namespace {

asio::ip::address Unmapped(const asio::ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
  }
  return address;
}

template <typename Bytes>
bool PrefixMatches(const Bytes& a, const Bytes& b, int bits) {
  for (size_t i = 0; i < a.size() && bits > 0; ++i, bits -= 8) {
    unsigned mask = bits >= 8 ? 0xFFu : (0xFFu << (8 - bits)) & 0xFFu;
    if ((a[i] & mask) != (b[i] & mask)) return false;
  }
  return true;
}

}  // namespace

bool CheckAddress(const std::string& text, std::string* error) {
  asio::error_code failure;
  asio::ip::make_address(text, failure);
  if (!failure) return true;
  *error = "\"" + text + "\" is not an IPv4 or IPv6 address.";
  return false;
}

bool AllowList::Parse(const std::vector<std::string>& entries, std::string* error) {
  blocks_.clear();
  for (const std::string& entry : entries) {
    size_t slash = entry.find('/');
    asio::error_code failure;
    Block block;
    block.network = asio::ip::make_address(entry.substr(0, slash), failure);
    int maxBits = block.network.is_v4() ? 32 : 128;
    block.bits = maxBits;
    if (!failure && slash != std::string::npos) {
      std::string bits = entry.substr(slash + 1);
      char* end = nullptr;
      long value = strtol(bits.c_str(), &end, 10);
      if (bits.empty() || *end != '\0' || value < 0 || value > maxBits) failure = asio::error::invalid_argument;
      block.bits = static_cast<int>(value);
    }
    if (failure) {
      *error = "\"" + entry + "\" is not an address block such as 192.168.1.0/24 or fd00::/8.";
      blocks_.clear();
      return false;
    }
    block.network = Unmapped(block.network);
    blocks_.push_back(block);
  }
  return true;
}

bool AllowList::Allows(const asio::ip::address& sender) const {
  if (blocks_.empty()) return true;
  asio::ip::address address = Unmapped(sender);
  for (const Block& block : blocks_) {
    if (address.is_v4() && block.network.is_v4() &&
        PrefixMatches(address.to_v4().to_bytes(), block.network.to_v4().to_bytes(), block.bits)) {
      return true;
    }
    if (address.is_v6() && block.network.is_v6() &&
        PrefixMatches(address.to_v6().to_bytes(), block.network.to_v6().to_bytes(), block.bits)) {
      return true;
    }
  }
  return false;
}

}  // namespace ombrix_bridge
