// Durable replacement of the state file on Windows: the data flushed, then
// MoveFileEx with write-through, which returns once the rename is on disk.
#include <windows.h>

#include "node_state.h"

namespace ombrix_bridge {

bool ReplaceFileDurably(const std::string& path, const std::string& contents, std::string* error) {
  std::string temporary = path + ".new";
  auto fail = [&](const char* what) {
    *error = "The state file " + path + " could not be written (" + what + ", error " + std::to_string(GetLastError()) +
             ").";
    return false;
  };
  HANDLE file =
      CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return fail("creating it");
  DWORD wrote = 0;
  bool written = WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &wrote, nullptr) &&
                 wrote == contents.size() && FlushFileBuffers(file);
  CloseHandle(file);
  if (!written) {
    DeleteFileA(temporary.c_str());
    return fail("writing it");
  }
  if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileA(temporary.c_str());
    return fail("renaming it into place");
  }
  return true;
}

}  // namespace ombrix_bridge
