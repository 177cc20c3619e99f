// A bridge running in this process on simulated interfaces, with free
// loopback ports chosen for it, and a UDP peer on 127.0.0.1 that plays the
// console, the controller or the receiver.
#ifndef OMBRIX_BRIDGE_TESTS_BRIDGE_FIXTURE_H
#define OMBRIX_BRIDGE_TESTS_BRIDGE_FIXTURE_H

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bridge.h"
#include "protocols/artnet_packet.h"
#include "protocols/sacn_packet.h"

namespace ombrix_bridge_test {

using ombrix_bridge::BridgeConfig;
using Levels = std::array<uint8_t, 512>;

// The API table over the linked simulator library.
const ombrix_tool::Api& SimApi();
// The simulator's loopback, or null when the library lacks it.
using LoopbackFunction = int32_t (*)(int32_t, int32_t);
LoopbackFunction SimLoopback();

// A UDP socket on 127.0.0.1 with an ephemeral port.
class Peer {
 public:
  Peer();
  ~Peer();
  uint16_t port() const { return port_; }
  void SendTo(uint16_t port, const uint8_t* data, size_t size);
  void SendTo(uint16_t port, const std::vector<uint8_t>& data) { SendTo(port, data.data(), data.size()); }
  // The next datagram within timeoutMillis, or an empty vector.
  std::vector<uint8_t> Receive(int timeoutMillis);

 private:
  int socket_ = -1;
  uint16_t port_ = 0;
};

// A port that was free a moment ago (bound and released).
uint16_t FreeUdpPort();

// Packets as a console would send them. EncodeSacn sends any sACN data
// packet with levels as its 512 slots; MakeSacnData fills in the rest.
std::vector<uint8_t> EncodeSacn(ombrix::protocols::SacnData packet, const Levels& levels);
std::vector<uint8_t> MakeSacnData(uint16_t universe, const Levels& levels, uint8_t sequence, bool terminated = false,
                                  uint8_t cidByte = 1);
std::vector<uint8_t> MakeArtDmx(uint16_t portAddress, const Levels& levels, uint8_t sequence);
std::vector<uint8_t> MakeArtPoll();

class BridgeTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the bridge with config (its ports are filled in).
  void StartBridge(BridgeConfig config, ombrix_bridge::BridgeTiming timing = {});
  void StopBridge();
  // Picks two distinct loopback ports that are free right now.
  void ChooseBridgePorts();

  // Waits (up to 3 s) until the simulated device has written a DMX block
  // whose 32 channels equal those of levels at that block. Returns whether
  // it did.
  bool WaitForWire(int32_t device, int block, const Levels& levels, int timeoutMillis = 3000);
  // Every DMX block the device has written so far, as (block, data).
  std::vector<std::pair<int, std::array<uint8_t, 32>>> WireBlocks(int32_t device);
  // The last mode the device was sent, or -1.
  int LastMode(int32_t device);
  // While the test captures stderr (testing::internal::CaptureStderr),
  // waits until everything the bridge has logged holds each of texts;
  // returns whether it did within timeoutMillis.
  static bool WaitForCapturedLog(const std::vector<std::string>& texts, int timeoutMillis = 5000);
  // Waits until an sACN data packet for universe arrives at peer; returns it.
  bool ReceiveSacn(Peer& peer, uint16_t universe, Levels* levels, bool* terminated, int timeoutMillis = 3000,
                   uint8_t* priority = nullptr);

  ombrix_tool::Serial Serial(int number) const { return ombrix_tool::SimulatedSerial(number); }
  static ombrix_bridge::Mapping Map(int device, ombrix_bridge::Direction direction, const std::string& universe);

  uint16_t sacnPort_ = 0;
  uint16_t artnetPort_ = 0;
  // The sampling period StartBridge gives the bridge: none, so that tests
  // of other things see packets on the wire at once; a test of the
  // sampling period sets it.
  std::chrono::milliseconds samplingPeriod_{0};
  std::unique_ptr<ombrix_bridge::Bridge> bridge_;
  std::thread thread_;
};

}  // namespace ombrix_bridge_test

#endif  // OMBRIX_BRIDGE_TESTS_BRIDGE_FIXTURE_H
