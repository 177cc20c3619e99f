#include "pipe_pair.h"

#include <atomic>
#include <cstdio>

#include "platform/win32/win32_handles.h"

namespace ombrix_test {
namespace {

std::atomic<int> g_pipeCount{0};

// A blocking transfer on an overlapped handle: start it, then wait for it.
bool Finish(HANDLE handle, BOOL started, OVERLAPPED* overlapped, DWORD* transferred) {
  if (!started && GetLastError() != ERROR_IO_PENDING) return false;
  return GetOverlappedResult(handle, overlapped, transferred, TRUE) != FALSE;
}

}  // namespace

PipePair::PipePair() {
  char name[96];
  std::snprintf(name, sizeof name, "\\\\.\\pipe\\ombrix-test-%lu-%d", GetCurrentProcessId(), g_pipeCount.fetch_add(1));
  peer_ = CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                           PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
  if (peer_ == INVALID_HANDLE_VALUE) return;
  device_ = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (device_ == INVALID_HANDLE_VALUE) return;
  DWORD mode = PIPE_READMODE_MESSAGE;
  SetNamedPipeHandleState(device_, &mode, nullptr, nullptr);
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!ConnectNamedPipe(peer_, &overlapped)) {
    DWORD error = GetLastError();
    DWORD ignored = 0;
    if (error == ERROR_IO_PENDING) GetOverlappedResult(peer_, &overlapped, &ignored, TRUE);
  }
  CloseHandle(overlapped.hEvent);
}

PipePair::~PipePair() {
  if (device_ != INVALID_HANDLE_VALUE) CloseHandle(device_);
  ClosePeer();
}

ombrix::platform::Device PipePair::device() const { return ombrix::platform::DeviceFromHandle(device_); }

bool PipePair::PeerWrite(const std::vector<uint8_t>& message) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD written = 0;
  BOOL started = WriteFile(peer_, message.data(), static_cast<DWORD>(message.size()), nullptr, &overlapped);
  bool ok = Finish(peer_, started, &overlapped, &written) && written == message.size();
  CloseHandle(overlapped.hEvent);
  return ok;
}

std::vector<uint8_t> PipePair::PeerRead() {
  std::vector<uint8_t> message(4096);
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD read = 0;
  BOOL started = ReadFile(peer_, message.data(), static_cast<DWORD>(message.size()), nullptr, &overlapped);
  if (!Finish(peer_, started, &overlapped, &read)) read = 0;
  CloseHandle(overlapped.hEvent);
  message.resize(read);
  return message;
}

void PipePair::ClosePeer() {
  if (peer_ == INVALID_HANDLE_VALUE) return;
  CloseHandle(peer_);
  peer_ = INVALID_HANDLE_VALUE;
}

}  // namespace ombrix_test
