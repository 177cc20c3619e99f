// Windows: the bridge without its status page. Debian ships cpp-httplib
// compiled for Linux (its header declares, the shared library implements),
// so the Windows build has no HTTP server; --http is refused at once with
// a sentence that says so, and everything else of the bridge is the same.
#include "status_server.h"

namespace httplib {
class Server {};  // never made in this build
}  // namespace httplib

namespace ombrix_bridge {

class WorkerPool {};  // never made in this build

bool ParseHttpAddress(const std::string& text, std::string*, int*, std::string* error) {
  *error = "--http " + text + ": the status page is not part of the Windows build of ombrix.";
  return false;
}

StatusServer::StatusServer(SnapshotBoard* board) : board_(board) {}

StatusServer::~StatusServer() { Stop(); }

bool StatusServer::Start(const std::string& where, std::string* error) {
  return ParseHttpAddress(where, &address_, &port_, error);
}

void StatusServer::Stop() {}

void StatusServer::Routes() {}

}  // namespace ombrix_bridge
