#include "bridge_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>

#include "client/linked_api.h"

namespace ombrix_bridge_test {

using namespace ombrix::protocols;

const ombrix_tool::Api& SimApi() {
  static const ombrix_tool::Api api = ombrix_tool::LinkedSimulatorApi();
  return api;
}

LoopbackFunction SimLoopback() { return SimApi().OmbrixSimSetLoopback; }

Peer::Peer() {
  socket_ = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  socklen_t length = sizeof(address);
  getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
}

Peer::~Peer() { close(socket_); }

void Peer::SendTo(uint16_t port, const uint8_t* data, size_t size) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  sendto(socket_, data, size, 0, reinterpret_cast<sockaddr*>(&address), sizeof(address));
}

std::vector<uint8_t> Peer::Receive(int timeoutMillis) {
  pollfd wait{socket_, POLLIN, 0};
  if (poll(&wait, 1, timeoutMillis) <= 0) return {};
  std::vector<uint8_t> data(2048);
  ssize_t size = recv(socket_, data.data(), data.size(), 0);
  data.resize(size > 0 ? static_cast<size_t>(size) : 0);
  return data;
}

uint16_t FreeUdpPort() {
  Peer peer;
  return peer.port();
}

std::vector<uint8_t> MakeSacnData(uint16_t universe, const Levels& levels, uint8_t sequence, bool terminated,
                                  uint8_t cidByte) {
  SacnData packet;
  packet.cid.fill(cidByte);
  packet.sourceName = "test console";
  packet.sequence = sequence;
  packet.universe = universe;
  packet.streamTerminated = terminated;
  return EncodeSacn(packet, levels);
}

std::vector<uint8_t> EncodeSacn(SacnData packet, const Levels& levels) {
  packet.slots = levels.data();
  packet.slotCount = 512;
  std::vector<uint8_t> out(kSacnDataMaxSize);
  out.resize(BuildSacnData(packet, out.data(), out.size()));
  return out;
}

std::vector<uint8_t> MakeArtDmx(uint16_t portAddress, const Levels& levels, uint8_t sequence) {
  ArtDmx packet;
  packet.sequence = sequence;
  packet.portAddress = portAddress;
  packet.data = levels.data();
  packet.length = 512;
  std::vector<uint8_t> out(kArtDmxMaxSize);
  out.resize(BuildArtDmx(packet, out.data(), out.size()));
  return out;
}

std::vector<uint8_t> MakeArtPoll() {
  std::vector<uint8_t> out(kArtPollFullSize);
  out.resize(BuildArtPoll(ArtPoll{}, out.data(), out.size()));
  return out;
}

void BridgeTest::SetUp() {
  const ombrix_tool::Api& api = SimApi();
  ASSERT_EQ(api.OmbrixSimReset(), 1);
  ombrix_tool::AddSimulatedInterfaces(api, 2);
  ChooseBridgePorts();
}

void BridgeTest::ChooseBridgePorts() {
  sacnPort_ = FreeUdpPort();
  do {
    artnetPort_ = FreeUdpPort();
  } while (artnetPort_ == sacnPort_);
}

void BridgeTest::TearDown() { StopBridge(); }

void BridgeTest::StartBridge(BridgeConfig config, ombrix_bridge::BridgeTiming timing) {
  config.bind = "127.0.0.1";
  timing.sampling = samplingPeriod_;
  // The wait for a source's per-slot priorities is part of the sampling.
  timing.prioritiesWait = samplingPeriod_;
  std::string error;
  // The ports were free when SetUp chose them, but another test process, or
  // a peer this test bound since, may have been handed one of them by the
  // kernel in between. Choosing again is the only cure for that race; tests
  // read sacnPort_ and artnetPort_ only after this returns.
  for (int attempt = 0;; ++attempt) {
    config.sacnPort = sacnPort_;
    config.artnetPort = artnetPort_;
    ASSERT_TRUE(ombrix_bridge::CheckConfig(config, &error)) << error;
    // Unicast only: tests send nothing to addresses outside loopback.
    bridge_ = std::make_unique<ombrix_bridge::Bridge>(SimApi(), config, false, timing);
    error.clear();
    if (bridge_->Start(&error)) break;
    bridge_.reset();
    ASSERT_TRUE(attempt < 20 && error.find("already in use") != std::string::npos) << error;
    ChooseBridgePorts();
  }
  thread_ = std::thread([this] { bridge_->Run(); });
}

void BridgeTest::StopBridge() {
  if (!bridge_) return;
  bridge_->RequestStop();
  if (thread_.joinable()) thread_.join();
  bridge_.reset();
}

std::vector<std::pair<int, std::array<uint8_t, 32>>> BridgeTest::WireBlocks(int32_t device) {
  const ombrix_tool::Api& api = SimApi();
  std::vector<std::pair<int, std::array<uint8_t, 32>>> blocks;
  uint32_t count = api.OmbrixSimWriteCount(device);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t report[64];
    int32_t size = api.OmbrixSimGetWrite(device, i, report, sizeof(report), nullptr);
    if (size != 34 || report[1] > 0x0F) continue;
    std::array<uint8_t, 32> data;
    memcpy(data.data(), report + 2, 32);
    blocks.emplace_back(report[1], data);
  }
  return blocks;
}

bool BridgeTest::WaitForWire(int32_t device, int block, const Levels& levels, int timeoutMillis) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMillis);
  do {
    for (const auto& [index, data] : WireBlocks(device)) {
      if (index == block && memcmp(data.data(), levels.data() + 32 * block, 32) == 0) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  } while (std::chrono::steady_clock::now() < end);
  return false;
}

bool BridgeTest::WaitForCapturedLog(const std::vector<std::string>& texts, int timeoutMillis) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMillis);
  do {
    // The capture points descriptor 2 at a file; opened anew through /proc
    // it reads from the start, and the capture goes on undisturbed.
    std::ifstream captured("/proc/self/fd/2");
    std::string log((std::istreambuf_iterator<char>(captured)), std::istreambuf_iterator<char>());
    bool all = true;
    for (const std::string& text : texts) all = all && log.find(text) != std::string::npos;
    if (all) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (std::chrono::steady_clock::now() < end);
  return false;
}

int BridgeTest::LastMode(int32_t device) {
  const ombrix_tool::Api& api = SimApi();
  int mode = -1;
  uint32_t count = api.OmbrixSimWriteCount(device);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t report[64];
    // The blocking write of the mode command may carry the payload alone
    // or with the report ID; look for the type byte in either place.
    int32_t size = api.OmbrixSimGetWrite(device, i, report, sizeof(report), nullptr);
    if (size == 34 && report[1] == 0x10) mode = report[2];
  }
  return mode;
}

bool BridgeTest::ReceiveSacn(Peer& peer, uint16_t universe, Levels* levels, bool* terminated, int timeoutMillis,
                             uint8_t* priority) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMillis);
  while (std::chrono::steady_clock::now() < end) {
    std::vector<uint8_t> datagram = peer.Receive(50);
    if (datagram.empty()) continue;
    SacnPacket packet = ParseSacn(datagram.data(), datagram.size());
    const SacnData* data = std::get_if<SacnData>(&packet);
    if (data == nullptr || data->universe != universe || data->startCode != 0) continue;
    levels->fill(0);
    memcpy(levels->data(), data->slots, data->slotCount);
    if (terminated != nullptr) *terminated = data->streamTerminated;
    if (priority != nullptr) *priority = data->priority;
    return true;
  }
  return false;
}

ombrix_bridge::Mapping BridgeTest::Map(int device, ombrix_bridge::Direction direction, const std::string& universe) {
  ombrix_bridge::Mapping mapping;
  mapping.serial = ombrix_tool::SimulatedSerial(device);
  mapping.direction = direction;
  std::string error;
  EXPECT_TRUE(ombrix_bridge::ParseUniverse(universe, &mapping.universe, &error)) << error;
  return mapping;
}

}  // namespace ombrix_bridge_test
