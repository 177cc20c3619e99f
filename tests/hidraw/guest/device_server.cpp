// The Linux side of the Windows device tier: creates the scripted uhid
// devices before Wine starts, then carries out the requests of the Windows
// test programs (send input, unplug, report what was received) until it is
// told to stop with SIGTERM. The exchange is described in
// device_script_protocol.h.
//
// Usage: uhid_device_server <set>...   (for example: W64 W32)
// The shared devices are made once, the per-set ones for each set.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device_script_protocol.h"
#include "uhid_device.h"

using namespace std::chrono;
using guest::Received;
using guest::UhidDevice;

static_assert(UhidDevice::kVersion == device_script::kVersionNumber, "both sides expect one release number");

namespace {

volatile sig_atomic_t g_stop = 0;
void OnStop(int) { g_stop = 1; }

struct Scripted {
  std::string name;  // the serial as well
  uint16_t vendor;
  uint16_t product;
  std::unique_ptr<UhidDevice> device;
  bool present = true;
};

std::string PathOf(const std::string& file) { return std::string(device_script::kLinuxDirectory) + "/" + file; }

// Writes the file whole: the body, the marker, then a rename into place.
bool WriteWhole(const std::string& file, const std::string& body) {
  std::string temporary = PathOf("." + file + ".part");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << body << device_script::kEndMarker << "\n";
    if (!out.flush()) return false;
  }
  return std::rename(temporary.c_str(), PathOf(file).c_str()) == 0;
}

// The lines of a file whose last line is the marker; false while it is
// missing or still being written.
bool ReadWhole(const std::string& file, std::vector<std::string>* lines) {
  std::ifstream in(PathOf(file), std::ios::binary);
  if (!in) return false;
  std::ostringstream contents;
  contents << in.rdbuf();
  return device_script::MarkedLines(contents.str(), lines);
}

std::string DeviceLine(const Scripted& device) {
  char line[96];
  std::snprintf(line, sizeof line, "%s %04x %04x %s\n", device.name.c_str(), device.vendor, device.product,
                device.name.c_str());
  return line;
}

// True once the kernel has made a hidraw node for the device with this
// uniq string (the node's sysfs uevent carries HID_UNIQ).
bool HidrawNodeExists(const std::string& uniq) {
  DIR* directory = opendir("/sys/class/hidraw");
  if (directory == nullptr) return false;
  bool found = false;
  while (dirent* entry = readdir(directory)) {
    std::string node = entry->d_name;
    if (node.rfind("hidraw", 0) != 0) continue;
    std::ifstream uevent("/sys/class/hidraw/" + node + "/device/uevent");
    std::string line;
    while (std::getline(uevent, line)) {
      if (line == "HID_UNIQ=" + uniq && access(("/dev/" + node).c_str(), R_OK | W_OK) == 0) found = true;
    }
  }
  closedir(directory);
  return found;
}

class Server {
 public:
  bool Create(const std::vector<std::string>& sets) {
    for (const device_script::Role& role : device_script::kRoles) {
      std::vector<std::string> names;
      if (!role.perSet) names.push_back(role.role);
      for (const std::string& set : sets) {
        if (role.perSet) names.push_back(set + "-" + role.role);
      }
      for (const std::string& name : names) {
        Scripted scripted{name, role.vendor, role.product, nullptr};
        scripted.device = std::make_unique<UhidDevice>(role.vendor, role.product, name);
        if (!scripted.device->created()) {
          std::fprintf(stderr, "device server: cannot create %s (is /dev/uhid there?)\n", name.c_str());
          return false;
        }
        devices_.push_back(std::move(scripted));
      }
    }
    auto end = steady_clock::now() + seconds(20);
    for (Scripted& scripted : devices_) {
      if (!scripted.device->WaitStarted(milliseconds(5000))) {
        std::fprintf(stderr, "device server: %s was not started by the kernel\n", scripted.name.c_str());
        return false;
      }
      while (!HidrawNodeExists(scripted.name)) {
        if (steady_clock::now() > end) {
          std::fprintf(stderr, "device server: no hidraw node for %s\n", scripted.name.c_str());
          return false;
        }
        std::this_thread::sleep_for(milliseconds(10));
      }
    }
    return WriteWhole(device_script::kManifestName, Listing());
  }

  // Serves every complete request-<tag>.txt, answering with reply-<tag>.txt,
  // until told to stop. The tag is the client's own (its set, process and
  // exchange number), so several programs may run one after the other.
  void Serve() {
    while (!g_stop) {
      bool served = false;
      for (const std::string& tag : RequestTags()) {
        std::string request = "request-" + tag + ".txt";
        std::vector<std::string> lines;
        if (!ReadWhole(request, &lines)) continue;
        std::remove(PathOf(request).c_str());
        std::string reply = lines.empty() ? "ERROR empty request\n" : Carry(lines[0]);
        WriteWhole("reply-" + tag + ".txt", reply);
        served = true;
      }
      if (!served) std::this_thread::sleep_for(milliseconds(2));
    }
  }

 private:
  static std::vector<std::string> RequestTags() {
    std::vector<std::string> tags;
    DIR* directory = opendir(device_script::kLinuxDirectory);
    if (directory == nullptr) return tags;
    const std::string prefix = "request-", suffix = ".txt";
    while (dirent* entry = readdir(directory)) {
      std::string file = entry->d_name;
      if (file.size() > prefix.size() + suffix.size() && file.rfind(prefix, 0) == 0 &&
          file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0) {
        tags.push_back(file.substr(prefix.size(), file.size() - prefix.size() - suffix.size()));
      }
    }
    closedir(directory);
    return tags;
  }

  std::string Listing() const {
    std::string listing;
    for (const Scripted& scripted : devices_) {
      if (scripted.present) listing += DeviceLine(scripted);
    }
    return listing;
  }

  Scripted* Find(const std::string& name) {
    for (Scripted& scripted : devices_) {
      if (scripted.name == name) return &scripted;
    }
    return nullptr;
  }

  static std::string ReportLines(const std::vector<Received>& reports) {
    std::string lines = "OK\n";
    for (const Received& received : reports) lines += device_script::Hex(received.report) + "\n";
    return lines;
  }

  std::string Carry(const std::string& command) {
    std::istringstream words(command);
    std::string verb, name;
    words >> verb;
    if (verb == "list") return "OK\n" + Listing();
    words >> name;
    Scripted* scripted = Find(name);
    if (scripted == nullptr) return "ERROR no device " + name + "\n";
    UhidDevice& device = *scripted->device;
    if (verb == "reports") return ReportLines(device.Reports());
    if (verb == "wait") {
      size_t count = 0;
      long limit = 0;
      words >> count >> limit;
      return ReportLines(device.WaitForReports(count, milliseconds(limit)));
    }
    if (verb == "clear") {
      device.ClearReports();
      return "OK\n";
    }
    if (verb == "input") {
      std::string hex;
      std::vector<uint8_t> payload;
      words >> hex;
      if (!device_script::FromHex(hex, &payload) || payload.empty() || payload.size() > 64)
        return "ERROR bad payload\n";
      return device.SendInput(payload) ? "OK\n" : "ERROR input not sent\n";
    }
    if (verb == "unplug") {
      device.Unplug();
      scripted->present = false;
      return "OK\n";
    }
    return "ERROR unknown command " + verb + "\n";
  }

  std::vector<Scripted> devices_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <set>...\n", argv[0]);
    return 2;
  }
  signal(SIGTERM, OnStop);
  signal(SIGINT, OnStop);
  mkdir(device_script::kLinuxDirectory, 0777);
  Server server;
  if (!server.Create(std::vector<std::string>(argv + 1, argv + argc))) return 1;
  std::printf("device server: devices up, serving requests\n");
  std::fflush(stdout);
  server.Serve();
  return 0;
}
