// Windows: the DLL is loaded from the directory of ombrix.exe and from
// nowhere else. The system's search path would also try the current
// directory and PATH, where a DLL of the same name planted by someone else
// could be loaded instead of ours.
#include <windows.h>

#include <string>

#include "client/library_loader.h"

namespace ombrix_tool {
namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
  }
  return out;
}

// The directory of ombrix.exe with a trailing backslash; empty if the
// system cannot say.
std::wstring ExecutableDirectory() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);  // a long path: try again with more room
  }
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// The system's text for an error code, without its trailing line break.
std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = length != 0 ? std::wstring(text, length) : std::wstring();
  if (text != nullptr) LocalFree(text);
  while (!message.empty() &&
         (message.back() == L'\n' || message.back() == L'\r' || message.back() == L'.' || message.back() == L' ')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(code) : Utf8(message) + ", error " + std::to_string(code);
}

}  // namespace

std::string LibraryFileName(bool simulated) { return simulated ? "Ombrix_USB_Sim.dll" : "Ombrix_USB.dll"; }

void* OpenLibrary(const std::string& file, std::string* why) {
  std::wstring directory = ExecutableDirectory();
  if (directory.empty()) {
    *why = "the directory of ombrix.exe is unknown: " + SystemMessage(GetLastError());
    return nullptr;
  }
  std::wstring path = directory + std::wstring(file.begin(), file.end());
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    *why = "it is not in " + Utf8(directory) + ", the directory of ombrix.exe, where it must be";
    return nullptr;
  }
  // The DLL's own imports are then found beside it too.
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) *why = SystemMessage(GetLastError());
  return reinterpret_cast<void*>(module);
}

void* FindFunction(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace ombrix_tool
