#include "recorder.h"

#include <time.h>

#include <asio/io_context.hpp>
#include <asio/ip/address_v4.hpp>

#include <memory>
#include <set>

#include "allow_list.h"
#include "bridge_config.h"
#include "capture_file.h"
#include "client/failure.h"
#include "input_stream.h"
#include "interface_port.h"
#include "play_schedule.h"
#include "protocols/artnet_packet.h"
#include "protocols/capture_frame.h"
#include "protocols/sacn_packet.h"
#include "sacn_identity.h"
#include "capture_log.h"
#include "udp_socket.h"

namespace ombrix_capture {
namespace {

void RecordLog(const std::string& text) { LogAs("record", text); }

using namespace ombrix_bridge;
namespace proto = ombrix::protocols;

// Groups a socket may join is limited (20 on Linux by default): without
// --universe the recorder joins universe discovery and the first universes.
constexpr uint16_t kDefaultJoinedUniverses = 16;

int64_t RealtimeNs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

struct InputRecording {
  std::unique_ptr<InterfacePort> port;
  std::unique_ptr<InputStream> stream;
  proto::Cid cid{};
  std::string name;
  uint8_t sequence = 0;
};

class Recording {
 public:
  explicit Recording(const RecordOptions& options) : options_(options) {}

  bool Start(std::string* error) {
    rotating_ = options_.rotate || options_.rotateSeconds > 0;
    return OpenNext(error);
  }

  // Writes one datagram; false ends the recording (error set when it failed).
  bool Write(int64_t timeNs, uint32_t source, uint32_t destination, uint16_t sourcePort, uint16_t destinationPort,
             const uint8_t* data, size_t size, std::string* error) {
    uint8_t frame[proto::kIpv4UdpHeaderSize + 2048];
    size_t length =
        proto::BuildIpv4Udp(source, destination, sourcePort, destinationPort, id_++, data, size, frame, sizeof(frame));
    if (length == 0) return true;
    uint64_t record = CaptureWriter::kRecordHeaderSize + length;
    bool full = options_.maxBytes > 0 && writer_.bytes() + record > options_.maxBytes;
    bool timeUp = options_.rotateSeconds > 0 && writer_.records() > 0 &&
                  timeNs - fileStartNs_ >= static_cast<int64_t>(options_.rotateSeconds * 1e9);
    if (full || timeUp) {
      if (full && !options_.rotate) {
        limitReached_ = true;
        return false;
      }
      if (!OpenNext(error)) return false;
    }
    if (!writer_.Write(timeNs, frame, length, error)) return false;
    ++packets_;
    bytes_ += length;
    return true;
  }

  bool Flush(std::string* error) { return writer_.Flush(error); }
  bool Close(std::string* error) { return writer_.Close(error); }
  uint64_t packets() const { return packets_; }
  uint64_t bytes() const { return bytes_; }
  bool limitReached() const { return limitReached_; }
  const std::string& path() const { return writer_.path(); }
  int files() const { return number_; }

 private:
  bool OpenNext(std::string* error) {
    if (writer_.open() && !writer_.Close(error)) return false;
    ++number_;
    std::string path = rotating_ ? NumberedFile(options_.file, number_) : options_.file;
    if (!writer_.Open(path, error)) return false;
    fileStartNs_ = RealtimeNs();
    if (number_ > 1) RecordLog("recording goes on in " + path);
    return true;
  }

  const RecordOptions& options_;
  CaptureWriter writer_;
  bool rotating_ = false;
  int number_ = 0;
  int64_t fileStartNs_ = 0;
  uint16_t id_ = 0;
  uint64_t packets_ = 0;
  uint64_t bytes_ = 0;
  bool limitReached_ = false;
};

}  // namespace

std::string NumberedFile(const std::string& file, int number) {
  size_t slash = file.find_last_of('/');
  size_t dot = file.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1) dot = file.size();
  char suffix[16];
  snprintf(suffix, sizeof(suffix), "-%04d", number);
  return file.substr(0, dot) + suffix + file.substr(dot);
}

int RunRecord(const ombrix_tool::Api& api, const RecordOptions& options, const std::function<bool()>& stop) {
  using ombrix_tool::Fail;
  using ombrix_tool::FailUsage;
  std::string error;
  std::set<NetworkUniverse> wanted;
  for (const std::string& text : options.universes) {
    NetworkUniverse universe;
    if (!ParseUniverse(text, &universe, &error)) return FailUsage(error);
    wanted.insert(universe);
  }
  std::vector<Mapping> ins;
  for (const std::string& text : options.ins) {
    Mapping mapping;
    if (!ParseMapping(text, Direction::kIn, &mapping, &error)) return FailUsage(error);
    if (mapping.universe.protocol != Protocol::kSacn) {
      return FailUsage("\"" + text + "\": interface input is recorded as sACN; give SERIAL=sacn:U.");
    }
    ins.push_back(mapping);
  }
  AllowList allow;
  if (!allow.Parse(options.allow, &error)) return FailUsage(error);
  if (!CheckAddress(options.bind, &error)) return FailUsage(error);
  if (options.rotate && options.maxBytes == 0) return FailUsage("--rotate needs --max-bytes.");
  if (options.maxBytes > 0 && options.maxBytes < 1024) return FailUsage("--max-bytes must be at least 1024.");
  asio::ip::address bind = asio::ip::make_address(options.bind);
  if (!bind.is_v4()) return FailUsage("The recorder listens on IPv4 only; give an IPv4 --bind.");
  uint32_t bindAddress = bind.to_v4().to_uint();
  // The network is recorded when universes are named, or when no input is.
  bool network = !wanted.empty() || ins.empty();

  Recording recording(options);
  asio::io_context io;
  std::unique_ptr<UdpSocket> sacnSocket, artnetSocket;
  proto::DropCounters drops;
  uint64_t unwanted = 0;
  bool failed = false;
  int64_t monoStart = MonotonicClock().NowNs();
  int64_t realStart = RealtimeNs();
  // Timestamps from the monotonic clock, set against the time of day once:
  // the intervals between records are as exact as the clock the player
  // waits on, whatever the time of day is stepped to meanwhile.
  MonotonicClock monotonic;
  auto stamp = [&] { return realStart + (monotonic.NowNs() - monoStart); };
  auto record = [&](const uint8_t* data, size_t size, const Endpoint& sender, uint16_t port) {
    if (failed) return;
    if (!sender.address().is_v4()) return;
    if (!recording.Write(stamp(), sender.address().to_v4().to_uint(), bindAddress, sender.port(), port, data, size,
                         &error)) {
      failed = true;
    }
  };
  std::set<uint16_t> joined;
  // A refused join is logged for the first universes joined only: sources
  // announcing hundreds of universes must not fill the log with a line each.
  constexpr size_t kJoinFailuresLogged = 24;
  auto join = [&](uint16_t universe) {
    if (options.unicastOnly || !joined.insert(universe).second) return;
    std::array<uint8_t, 4> group = proto::SacnMulticastGroup(universe);
    std::string why;
    if (!sacnSocket->Join(asio::ip::make_address_v4(group), &why) && joined.size() <= kJoinFailuresLogged) {
      RecordLog("sacn:" + std::to_string(universe) + ": could not join its multicast group (" + why +
                "); unicast still arrives");
    }
  };
  if (network) {
    sacnSocket = std::make_unique<UdpSocket>(io, [&](const uint8_t* data, size_t size, const Endpoint& sender) {
      if (!allow.Allows(sender.address())) return drops.Count(proto::DropKind::kNotAllowed);
      proto::SacnPacket packet = proto::ParseSacn(data, size);
      if (const proto::DropKind* drop = std::get_if<proto::DropKind>(&packet)) return drops.Count(*drop);
      if (const proto::SacnData* dmx = std::get_if<proto::SacnData>(&packet)) {
        if (!wanted.empty() && wanted.count(NetworkUniverse{Protocol::kSacn, dmx->universe}) == 0) {
          ++unwanted;
          return;
        }
      } else if (const proto::SacnDiscovery* discovery = std::get_if<proto::SacnDiscovery>(&packet)) {
        // Without --universe, the universes sources announce are joined.
        if (wanted.empty()) {
          for (uint16_t universe : discovery->universes) join(universe);
        }
      }
      record(data, size, sender, static_cast<uint16_t>(options.sacnPort));
    });
    artnetSocket = std::make_unique<UdpSocket>(io, [&](const uint8_t* data, size_t size, const Endpoint& sender) {
      if (!allow.Allows(sender.address())) return drops.Count(proto::DropKind::kNotAllowed);
      proto::ArtnetPacket packet = proto::ParseArtnet(data, size);
      if (const proto::DropKind* drop = std::get_if<proto::DropKind>(&packet)) return drops.Count(*drop);
      if (const proto::ArtDmx* dmx = std::get_if<proto::ArtDmx>(&packet)) {
        if (!wanted.empty() && wanted.count(NetworkUniverse{Protocol::kArtnet, dmx->portAddress}) == 0) {
          ++unwanted;
          return;
        }
      }
      record(data, size, sender, static_cast<uint16_t>(options.artnetPort));
    });
  }
  if (!recording.Start(&error)) return Fail(error);
  if (network) {
    if (!sacnSocket->Open(bind, options.sacnPort, &error) || !artnetSocket->Open(bind, options.artnetPort, &error)) {
      return Fail("sACN or Art-Net: " + error);
    }
    if (wanted.empty()) {
      join(proto::kSacnDiscoveryUniverse);
      for (uint16_t universe = 1; universe <= kDefaultJoinedUniverses; ++universe) join(universe);
    } else {
      for (const NetworkUniverse& universe : wanted) {
        if (universe.protocol == Protocol::kSacn) join(universe.number);
      }
    }
  }

  // Interface input: the bridge's input stream decides when a packet is
  // due (on change, at most 44 per second, and once a second unchanged).
  std::vector<InputRecording> inputs;
  std::string host = HostName();
  for (const Mapping& mapping : ins) {
    InputRecording input;
    input.port = std::make_unique<InterfacePort>(api, mapping.serial, options.mode, false, true, [] {});
    input.stream = std::make_unique<InputStream>(input.port.get(), mapping.universe);
    input.cid = MakeCid(host, mapping.serial, mapping.universe.number);
    input.name = SourceName(host, mapping.serial);
    std::string why;
    if (!input.port->TryOpen(&why)) return Fail(ombrix_tool::SerialText(mapping.serial) + " " + why + ".");
    inputs.push_back(std::move(input));
  }
  auto serviceInputs = [&] {
    proto::TimePoint now = proto::Clock::now();
    proto::TimePoint next = proto::TimePoint::max();
    std::array<uint8_t, 512> levels;
    for (InputRecording& input : inputs) {
      if (input.port->TakeChangedInput() != 0) input.stream->MarkChanged();
      if (!input.stream->Poll(now, &levels, &next)) continue;
      proto::SacnData data;
      data.cid = input.cid;
      data.sourceName = input.name;
      data.priority = proto::kSacnDefaultPriority;
      data.sequence = input.sequence++;
      data.universe = input.stream->universe().number;
      data.slots = levels.data();
      data.slotCount = 512;
      uint8_t packet[proto::kSacnDataMaxSize];
      size_t size = proto::BuildSacnData(data, packet, sizeof(packet));
      std::array<uint8_t, 4> group = proto::SacnMulticastGroup(data.universe);
      uint32_t destination = (uint32_t{group[0]} << 24) | (group[1] << 16) | (group[2] << 8) | group[3];
      if (size > 0 && !failed &&
          !recording.Write(stamp(), bindAddress, destination, 5568, 5568, packet, size, &error)) {
        failed = true;
      }
    }
  };

  std::string sources = network ? "sACN on UDP port " + std::to_string(options.sacnPort) + " and Art-Net on " +
                                      std::to_string(options.artnetPort) + " (" + options.bind + ")"
                                : std::string();
  if (!inputs.empty())
    sources += std::string(sources.empty() ? "" : " and ") + std::to_string(inputs.size()) + " interface input(s)";
  RecordLog("recording " + sources + " to " + recording.path() + "; Ctrl-C or SIGTERM ends it");

  int64_t end = options.seconds < 0 ? INT64_MAX : monoStart + static_cast<int64_t>(options.seconds * 1e9);
  int64_t statusEvery = static_cast<int64_t>(options.statusSeconds * 1e9);
  int64_t nextStatus = statusEvery > 0 ? monoStart + statusEvery : INT64_MAX;
  int64_t nextFlush = monoStart + 1000000000;
  auto statusLine = [&](const char* what) {
    char line[256];
    snprintf(line, sizeof(line), "%s %s: %llu packets, %llu bytes; not recorded: %llu other universes, %llu dropped",
             what, ShowTimeText(monotonic.NowNs() - monoStart).c_str(),
             static_cast<unsigned long long>(recording.packets()), static_cast<unsigned long long>(recording.bytes()),
             static_cast<unsigned long long>(unwanted), static_cast<unsigned long long>(drops.Total()));
    RecordLog(line);
  };
  while (!ombrix_tool::StopRequested() && !(stop && stop()) && !failed) {
    int64_t now = monotonic.NowNs();
    if (now >= end) break;
    io.run_for(std::chrono::milliseconds(inputs.empty() ? 20 : 2));
    if (!inputs.empty()) serviceInputs();
    now = monotonic.NowNs();
    if (now >= nextFlush) {
      nextFlush = now + 1000000000;
      if (!recording.Flush(&error)) failed = true;
    }
    if (now >= nextStatus) {
      nextStatus = now + statusEvery;
      statusLine("recording");
    }
  }
  if (sacnSocket) sacnSocket->Close();
  if (artnetSocket) artnetSocket->Close();
  for (InputRecording& input : inputs) input.port->Close();
  std::string closeError;
  bool closed = recording.Close(&closeError);
  if (failed && !recording.limitReached()) return Fail(error);
  if (!closed) return Fail(closeError);
  if (recording.limitReached()) RecordLog("the file reached --max-bytes; recording ended");
  statusLine("recorded");
  RecordLog("wrote " + std::to_string(recording.files()) + " file(s), the last " + recording.path());
  return 0;
}

}  // namespace ombrix_capture
