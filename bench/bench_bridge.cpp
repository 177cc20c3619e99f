// ombrix_bridge_bench: the network bridge's figures on simulated interfaces
// whose writes complete 1 ms after they start, over loopback UDP. Prints
// figures beside their goals; never fails on a figure.
//   latency: an sACN packet sent -> the block write carrying it started
//            (the simulator's write log), median and p99, 1 and 32 interfaces;
//   load:    32 universes in and 64 out (each interface's input looped
//            back onto two universes) at 44 packets/s each: packets
//            dropped, the CPU the bridge and library use, and the bridge
//            thread's own per universe.
// Usage: ombrix_bridge_bench [SECONDS]  (each load run, default 60)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "bench_support.h"
#include "bridge.h"
#include "client/linked_api.h"
#include "protocols/sacn_packet.h"

namespace {

using namespace ombrix_bench;
using ombrix::protocols::DropKind;

const ombrix_tool::Api& SimApi() {
  static const ombrix_tool::Api api = ombrix_tool::LinkedSimulatorApi();
  return api;
}

class UdpPeer {
 public:
  UdpPeer() {
    socket_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = Loopback(0);
    bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    socklen_t length = sizeof(address);
    getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    timeval timeout{0, 100000};
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  }
  ~UdpPeer() { close(socket_); }
  uint16_t port() const { return port_; }
  void Send(uint16_t port, const uint8_t* data, size_t size) {
    sockaddr_in address = Loopback(port);
    sendto(socket_, data, size, 0, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  }
  bool Receive() {
    uint8_t buffer[2048];
    return recv(socket_, buffer, sizeof(buffer), 0) > 0;
  }

 private:
  static sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
  }
  int socket_ = -1;
  uint16_t port_ = 0;
};

struct RunningBridge {
  std::unique_ptr<ombrix_bridge::Bridge> bridge;
  std::thread thread;
  std::atomic<long> tid{0};  // the bridge thread's kernel id
  uint16_t sacnPort = 0;
  ~RunningBridge() {
    bridge->RequestStop();
    thread.join();
  }
};

// A bridge with interfaces 1..count mapped from sACN universes 1..count,
// and (withInput) their input to universes 101.. sent to target.
std::unique_ptr<RunningBridge> StartBridge(int count, bool withInput, uint16_t target) {
  const ombrix_tool::Api& api = SimApi();
  api.OmbrixSimReset();
  ombrix_tool::AddSimulatedInterfaces(api, count);
  ombrix_bridge::BridgeConfig config;
  for (int i = 1; i <= count; ++i) {
    ombrix_bridge::Mapping mapping;
    mapping.serial = ombrix_tool::SimulatedSerial(i);
    mapping.universe = {ombrix_bridge::Protocol::kSacn, static_cast<uint16_t>(i)};
    config.mappings.push_back(mapping);
    if (withInput) {
      if (api.OmbrixSimSetLoopback != nullptr) api.OmbrixSimSetLoopback(i, 1);
      mapping.direction = ombrix_bridge::Direction::kIn;
      mapping.universe.number = static_cast<uint16_t>(100 + i);
      config.mappings.push_back(mapping);
      mapping.universe.number = static_cast<uint16_t>(200 + i);
      config.mappings.push_back(mapping);
    }
  }
  auto running = std::make_unique<RunningBridge>();
  {
    UdpPeer a, b;  // two ports that were free a moment ago
    config.sacnPort = a.port();
    config.artnetPort = b.port();
  }
  running->sacnPort = static_cast<uint16_t>(config.sacnPort);
  config.bind = "127.0.0.1";
  if (target != 0) config.sacnTargets = {"127.0.0.1:" + std::to_string(target)};
  running->bridge = std::make_unique<ombrix_bridge::Bridge>(api, config, false);
  std::string error;
  if (!running->bridge->Start(&error)) {
    fprintf(stderr, "bench: the bridge did not start: %s\n", error.c_str());
    exit(1);
  }
  running->thread = std::thread([bridge = running->bridge.get(), tid = &running->tid] {
    tid->store(CurrentTid());
    bridge->Run();
  });
  return running;
}

std::vector<uint8_t> SacnData(uint16_t universe, const uint8_t* levels, uint8_t sequence) {
  ombrix::protocols::SacnData packet;
  packet.cid.fill(0x42);
  packet.sourceName = "bench console";
  packet.sequence = sequence;
  packet.universe = universe;
  packet.slots = levels;
  packet.slotCount = 512;
  std::vector<uint8_t> out(ombrix::protocols::kSacnDataMaxSize);
  out.resize(ombrix::protocols::BuildSacnData(packet, out.data(), out.size()));
  return out;
}

// The start time of the first write of block 0 with channel 1 at level,
// looked for from index *seen on; 0 when not there yet.
uint64_t BlockWriteStart(int32_t device, uint8_t level, uint32_t* seen) {
  const ombrix_tool::Api& api = SimApi();
  uint32_t count = api.OmbrixSimWriteCount(device);
  for (; *seen < count; ++*seen) {
    uint8_t report[64];
    uint64_t start = 0;
    if (api.OmbrixSimGetWrite(device, *seen, report, sizeof(report), &start) == 34 && report[1] == 0 &&
        report[2] == level) {
      return start;
    }
  }
  return 0;
}

void RunLatency(int interfaces, int rounds) {
  auto running = StartBridge(interfaces, false, 0);
  // Past the sampling period, in which the bridge gathers sources without
  // writing: what is measured is the path of a running universe.
  SleepMicros(1600000);
  UdpPeer console;
  const ombrix_tool::Api& api = SimApi();
  std::vector<double> latencies;
  uint8_t levels[512] = {};
  std::vector<uint64_t> sent(interfaces + 1);
  for (int round = 0; round < rounds; ++round) {
    uint8_t level = static_cast<uint8_t>(20 + round % 200);
    levels[0] = level;
    std::vector<uint32_t> seen(interfaces + 1, 0);
    for (int device = 1; device <= interfaces; ++device) api.OmbrixSimClearWrites(device);
    for (int universe = 1; universe <= interfaces; ++universe) {
      std::vector<uint8_t> packet = SacnData(static_cast<uint16_t>(universe), levels, static_cast<uint8_t>(round));
      sent[universe] = NowMicros();
      console.Send(running->sacnPort, packet.data(), packet.size());
    }
    uint64_t deadline = NowMicros() + 200000;
    int found = 0;
    std::vector<bool> done(interfaces + 1, false);
    while (found < interfaces && NowMicros() < deadline) {
      for (int device = 1; device <= interfaces; ++device) {
        if (done[device]) continue;
        uint64_t start = BlockWriteStart(device, level, &seen[device]);
        if (start == 0) continue;
        done[device] = true;
        ++found;
        // The first round only settles the links.
        if (round > 0) latencies.push_back(start >= sent[device] ? (start - sent[device]) / 1000.0 : 0.0);
      }
      SleepMicros(100);
    }
    SleepMicros(1000000 / 44);
  }
  double median = 0, p99 = 0;
  Percentiles(latencies, &median, &p99);
  std::string label = std::to_string(interfaces) + (interfaces == 1 ? " interface" : " interfaces");
  bool goal = interfaces == 1;
  Figure("packet sent -> block write started, median, " + label, median, "ms", goal ? 1.5 : 0, goal ? 1.0 : 0, true);
  Figure("packet sent -> block write started, p99, " + label, p99, "ms", goal ? 3.5 : 0, goal ? 1.0 : 0, true);
  Figure("samples", static_cast<double>(latencies.size()), "");
}

// Drops the kernel counted on the bridge's sACN socket (/proc/net/udp).
uint64_t SocketDrops(uint16_t port) {
  std::ifstream file("/proc/net/udp");
  std::string line;
  std::getline(file, line);
  char wanted[16];
  snprintf(wanted, sizeof(wanted), ":%04X", port);
  while (std::getline(file, line)) {
    std::istringstream fields(line);
    std::string slot, local, field;
    fields >> slot >> local;
    if (local.size() < 5 || local.substr(local.size() - 5) != wanted) continue;
    while (fields >> field) {
    }
    return strtoull(field.c_str(), nullptr, 10);  // the last column: drops
  }
  return 0;
}

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

// everySlot: every slot of every universe changes in every packet (a fast
// chase, the worst case); otherwise one slot moves per packet, as under a
// fader.
void RunLoad(int seconds, bool everySlot) {
  constexpr int kUniverses = 32;
  UdpPeer receiver;
  auto running = StartBridge(kUniverses, true, receiver.port());
  SleepMicros(1600000);  // past the sampling period
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> received{0};
  std::atomic<double> helperCpu{0};
  std::thread listen([&] {
    while (!stop.load()) received += receiver.Receive() ? 1 : 0;
    helperCpu = helperCpu + ThreadCpuSeconds();
  });
  const ombrix::protocols::DropCounters& drops = running->bridge->ProtocolDrops(ombrix_bridge::Protocol::kSacn);
  uint64_t dropsBefore = drops.Total() + SocketDrops(running->sacnPort);
  double cpuBefore = ProcessCpuSeconds(), senderCpuBefore = ThreadCpuSeconds();
  uint64_t bridgeCpuBefore = ThreadCpuNanos(running->tid.load());
  uint64_t start = NowMicros(), sentPackets = 0;
  UdpPeer console;
  uint8_t levels[512] = {};
  for (uint64_t frame = 0; NowMicros() - start < static_cast<uint64_t>(seconds) * 1000000; ++frame) {
    if (everySlot) {
      for (int i = 0; i < 512; ++i) levels[i] = static_cast<uint8_t>(frame + i);
    } else {
      levels[frame % 512] = static_cast<uint8_t>(frame / 512 + 1);
    }
    for (int universe = 1; universe <= kUniverses; ++universe) {
      std::vector<uint8_t> packet = SacnData(static_cast<uint16_t>(universe), levels, static_cast<uint8_t>(frame));
      console.Send(running->sacnPort, packet.data(), packet.size());
      ++sentPackets;
    }
    uint64_t next = start + (frame + 1) * 1000000 / 44;
    uint64_t now = NowMicros();
    if (next > now) SleepMicros(next - now);
  }
  double wall = (NowMicros() - start) / 1e6;
  double senderCpu = ThreadCpuSeconds() - senderCpuBefore;
  stop = true;
  listen.join();
  double cpu = ProcessCpuSeconds() - cpuBefore - senderCpu - helperCpu.load();
  double bridgeCpu = (ThreadCpuNanos(running->tid.load()) - bridgeCpuBefore) / 1e9;
  uint64_t socketDrops = SocketDrops(running->sacnPort);
  uint64_t dropped = drops.Total() + socketDrops - dropsBefore;
  std::string kinds = ombrix_bridge::DropText(drops.Snapshot());
  for (int universe = 1; universe <= kUniverses; ++universe) {
    const auto* universeDrops =
        running->bridge->UniverseDrops({ombrix_bridge::Protocol::kSacn, static_cast<uint16_t>(universe)});
    if (universeDrops == nullptr) continue;
    dropped += universeDrops->Total();
    std::string text = ombrix_bridge::DropText(universeDrops->Snapshot());
    if (!text.empty()) kinds += " sacn:" + std::to_string(universe) + ": " + text;
  }
  Figure("packets sent to the bridge (32 universes x 44/s)", static_cast<double>(sentPackets), "");
  Figure("packets dropped (socket and bridge)", static_cast<double>(dropped), "", 0, 0);
  printf("    goal 0; by the kernel (socket buffer full) %llu; by kind: %s\n",
         static_cast<unsigned long long>(socketDrops), kinds.empty() ? "none" : kinds.c_str());
  Figure("sACN packets out (64 universes of looped-back input)", received.load() / wall, "pkt/s");
  Figure("CPU of bridge and library (load generator excluded)", 100.0 * cpu / wall, "% core", 5.0, 1.0, true);
  Figure("  of which the bridge's own thread", 100.0 * bridgeCpu / wall, "% core");
  // 32 universes received and 64 sent: the bridge's own work per universe.
  Figure("  the bridge's own thread per universe (96)", 100.0 * bridgeCpu / wall / 96, "% core", 0.05, 1.0, true);
  Figure("  the rest: library I/O and event threads, simulator", 100.0 * (cpu - bridgeCpu) / wall, "% core");
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = argc > 1 ? atoi(argv[1]) : 60;
  if (seconds <= 0) seconds = 60;
  printf("ombrix_bridge_bench: simulated interfaces, writes complete 1 ms after they start; loopback UDP\n");
  Section(
      "Latency: sACN packet sent -> matching block write started (goal with one interface: median <= 1.5 ms, p99 <= "
      "3.5 ms)");
  RunLatency(1, 400);
  RunLatency(32, 100);
  if (SimApi().OmbrixSimSetLoopback == nullptr) printf("  (the simulator has no loopback: no input goes out)\n");
  for (bool everySlot : {false, true}) {
    Section("Load: 32 universes in and 64 out at 44 packets/s each for " + std::to_string(seconds) + " s, " +
            (everySlot ? "every slot changing in every packet" : "one slot changing per packet") +
            " (goals: 0 dropped, CPU <= 5 % of one core)");
    RunLoad(seconds, everySlot);
  }
  return 0;
}
