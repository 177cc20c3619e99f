#include "device_script.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "device_script_protocol.h"

namespace device_test {
namespace {

std::string PathOf(const std::string& file) { return std::string(device_script::kWindowsDirectory) + "\\" + file; }

// Writes the file whole with one WriteFile, marker line last: a rename
// into place does not work across Wine's mapping of the guest's /tmp.
bool WriteWhole(const std::string& file, const std::string& body) {
  std::string contents = body + "\n" + device_script::kEndMarker + "\n";
  HANDLE handle =
      CreateFileA(PathOf(file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(handle, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
  CloseHandle(handle);
  return ok && written == contents.size();
}

// The file's lines without the marker; false while it is missing or not
// yet written whole.
bool ReadWhole(const std::string& file, std::vector<std::string>* lines) {
  HANDLE handle = CreateFileA(PathOf(file).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  std::string contents;
  char buffer[4096];
  DWORD count = 0;
  while (ReadFile(handle, buffer, sizeof buffer, &count, nullptr) && count > 0) contents.append(buffer, count);
  CloseHandle(handle);
  return device_script::MarkedLines(contents, lines);
}

std::vector<Bytes> ReportsOf(const std::vector<std::string>& lines) {
  std::vector<Bytes> reports;
  for (const std::string& line : lines) {
    Bytes report;
    device_script::FromHex(line, &report);  // the server writes only whole hex lines
    reports.push_back(report);
  }
  return reports;
}

}  // namespace

std::vector<std::string> DeviceScript::Exchange(const std::string& command, unsigned replyLimitMs) {
  std::string tag = std::to_string(sizeof(void*) * 8) + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(exchanges_++);
  std::vector<std::string> lines;
  if (!WriteWhole("request-" + tag + ".txt", command)) {
    if (error_.empty())
      error_ = "cannot write the request for '" + command + "': error " + std::to_string(GetLastError());
    return {};
  }
  // The server polls every few milliseconds; under software emulation a
  // reply can still take a while.
  std::string reply = "reply-" + tag + ".txt";
  DWORD start = GetTickCount();
  while (!ReadWhole(reply, &lines)) {
    if (GetTickCount() - start > replyLimitMs + 20000) {
      if (error_.empty()) error_ = "no reply from the device server to '" + command + "'";
      return {};
    }
    Sleep(2);
  }
  DeleteFileA(PathOf(reply).c_str());
  if (lines.empty() || lines[0] != "OK") {
    if (error_.empty()) error_ = "'" + command + "': " + (lines.empty() ? std::string("empty reply") : lines[0]);
    return {};
  }
  lines.erase(lines.begin());
  return lines;
}

std::vector<ScriptedDevice> DeviceScript::List() {
  std::vector<ScriptedDevice> devices;
  for (const std::string& line : Exchange("list", 0)) {
    std::istringstream words(line);
    ScriptedDevice device;
    std::string vendor, product;
    words >> device.name >> vendor >> product;
    device.vendor = static_cast<uint16_t>(std::strtoul(vendor.c_str(), nullptr, 16));
    device.product = static_cast<uint16_t>(std::strtoul(product.c_str(), nullptr, 16));
    devices.push_back(device);
  }
  return devices;
}

std::vector<Bytes> DeviceScript::Reports(const std::string& device) {
  return ReportsOf(Exchange("reports " + device, 0));
}

std::vector<Bytes> DeviceScript::WaitForReports(const std::string& device, size_t count, unsigned limitMs) {
  return ReportsOf(Exchange("wait " + device + " " + std::to_string(count) + " " + std::to_string(limitMs), limitMs));
}

void DeviceScript::Clear(const std::string& device) { Exchange("clear " + device, 0); }

void DeviceScript::Input(const std::string& device, const Bytes& payload) {
  Exchange("input " + device + " " + device_script::Hex(payload), 0);
}

void DeviceScript::Unplug(const std::string& device) { Exchange("unplug " + device, 0); }

DeviceScript& Script() {
  static DeviceScript script;
  return script;
}

}  // namespace device_test
