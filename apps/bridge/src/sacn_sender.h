// sACN out: the universes fed by interface input, as data packets to each
// universe's multicast group and to the configured unicast targets, the
// universe discovery list every 10 s, and stream-terminated packets when the
// bridge stops so that receivers drop it at once instead of after 2.5 s.
// A universe given per-slot priorities sends them (start code 0xDD, in the
// stream's own sequence) just before its first levels, so that a receiver
// waiting for them never uses the levels without them, and then at the
// keep-alive interval.
//
// Bridge thread only.
#ifndef OMBRIX_BRIDGE_SACN_SENDER_H
#define OMBRIX_BRIDGE_SACN_SENDER_H

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "input_stream.h"
#include "sacn_identity.h"
#include "slot_priorities.h"
#include "udp_socket.h"

namespace ombrix_bridge {

class SacnSender {
 public:
  // multicast: also send to the universes' groups (false: targets only).
  SacnSender(UdpSocket* socket, std::vector<Endpoint> targets, bool multicast, int port, int priority)
      : socket_(socket), targets_(std::move(targets)), multicast_(multicast), port_(port), priority_(priority) {}

  // A universe fed by the input of the interface with this serial; returns
  // the CID it is sent under.
  Cid AddUniverse(uint16_t universe, const ombrix_tool::Serial& serial,
                  const std::optional<SlotPriorities>& priorities = std::nullopt);
  void SendLevels(uint16_t universe, const std::array<uint8_t, 512>& levels, TimePoint now);
  // Sends the per-slot priorities of the live streams whose last ones are
  // a keep-alive interval old; call every few tens of milliseconds.
  void KeepPrioritiesAlive(TimePoint now);
  // Universe discovery, to universe 64214.
  void SendDiscovery();
  // Three stream-terminated packets per universe that has sent data.
  void Terminate();
  // The same for one universe (its interface has gone), so that receivers
  // let go of it at once rather than after 2.5 s; it restarts with the
  // next levels.
  void Terminate(uint16_t universe);

 private:
  struct Stream {
    Cid cid{};
    std::string name;
    uint8_t sequence = 0;
    bool sent = false;
    std::array<uint8_t, 512> levels{};
    std::optional<SlotPriorities> priorities;
    TimePoint prioritiesSent{};
  };
  void SendData(uint16_t universe, Stream& stream, bool terminated);
  void SendPriorities(uint16_t universe, Stream& stream, TimePoint now);
  void SendTo(uint16_t universe, const uint8_t* data, size_t size);

  UdpSocket* socket_;
  std::vector<Endpoint> targets_;
  bool multicast_;
  int port_;
  int priority_;
  std::string host_ = HostName();
  std::map<uint16_t, Stream> streams_;
};

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_SACN_SENDER_H
