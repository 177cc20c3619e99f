// Durable replacement of the state file on POSIX systems.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "node_state.h"

namespace ombrix_bridge {
namespace {

bool WriteAll(int fd, const std::string& contents) {
  size_t done = 0;
  while (done < contents.size()) {
    ssize_t wrote = write(fd, contents.data() + done, contents.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<size_t>(wrote);
  }
  return true;
}

}  // namespace

bool ReplaceFileDurably(const std::string& path, const std::string& contents, std::string* error) {
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  std::string temporary = path + ".new";
  auto fail = [&](const char* what) {
    *error = std::string("The state file ") + path + " could not be written (" + what + ": " + strerror(errno) + ").";
    return false;
  };
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return fail("creating it");
  bool written = WriteAll(fd, contents) && fsync(fd) == 0;
  int saved = errno;
  close(fd);
  errno = saved;
  if (!written) {
    unlink(temporary.c_str());
    return fail("writing it");
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    saved = errno;
    unlink(temporary.c_str());
    errno = saved;
    return fail("renaming it into place");
  }
  // The rename is only durable once the folder's entry is on the disk.
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return fail("opening its folder");
  bool synced = fsync(dir) == 0;
  saved = errno;
  close(dir);
  errno = saved;
  return synced || fail("flushing its folder");
}

}  // namespace ombrix_bridge
