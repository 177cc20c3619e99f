// The senders the bridge accepts datagrams from (--allow CIDR...). An empty
// list accepts everyone, as a node on a lighting network usually does.
#ifndef OMBRIX_BRIDGE_ALLOW_LIST_H
#define OMBRIX_BRIDGE_ALLOW_LIST_H

#include <asio/ip/address.hpp>
#include <string>
#include <vector>

namespace ombrix_bridge {

// True when text is an IPv4 or IPv6 address; otherwise error gets a sentence.
bool CheckAddress(const std::string& text, std::string* error);

class AllowList {
 public:
  // Each entry is ADDRESS/BITS or a bare ADDRESS (all bits). On failure
  // error names the entry and the list is left empty.
  bool Parse(const std::vector<std::string>& entries, std::string* error);
  // An IPv4 sender reached through an IPv6 socket (::ffff:a.b.c.d) is
  // matched as the IPv4 address it is.
  bool Allows(const asio::ip::address& sender) const;
  bool empty() const { return blocks_.empty(); }

 private:
  struct Block {
    asio::ip::address network;
    int bits = 0;
  };
  std::vector<Block> blocks_;
};

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_ALLOW_LIST_H
