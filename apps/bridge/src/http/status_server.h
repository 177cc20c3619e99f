// The status page's HTTP server (cpp-httplib): the page and its two assets,
// the live stream of snapshots (Server-Sent Events) and GET /api/status.
//
// Nothing it serves changes anything in the bridge, and it reads nothing but
// the snapshot board. Its limits: a fixed pool of worker threads, a bounded
// queue of accepted connections, at most kMaxStreams live pages at once (so
// a worker is always left for the API), request bodies of at most 1 KiB,
// short read, write and keep-alive time-outs, so a stalled browser holds
// one worker for a few seconds at most and never the bridge thread. It
// answers only requests addressed to a loopback name, one of the node's
// addresses or a name given to AllowHosts, on every address it listens on.
#ifndef OMBRIX_BRIDGE_HTTP_STATUS_SERVER_H
#define OMBRIX_BRIDGE_HTTP_STATUS_SERVER_H

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "snapshot_board.h"

namespace httplib {
class Server;
}

namespace ombrix_bridge {

class WorkerPool;

constexpr size_t kHttpWorkers = 6;
constexpr size_t kHttpQueuedConnections = 16;
constexpr int kMaxStreams = 4;

// "[ADDRESS:]PORT" as --http takes it: a bare port listens on 127.0.0.1 only;
// ADDRESS is an IPv4 address or a bracketed IPv6 one ("[::1]:8080"). Port
// 0 picks a free port. On failure error gets a sentence.
bool ParseHttpAddress(const std::string& text, std::string* address, int* port, std::string* error);

class StatusServer {
 public:
  explicit StatusServer(SnapshotBoard* board);
  ~StatusServer();

  // Names and addresses besides loopback's that requests may be addressed
  // to; call before Start.
  void AllowHosts(std::vector<std::string> names) { hosts_ = std::move(names); }
  // Binds and starts serving on a thread of its own.
  bool Start(const std::string& where, std::string* error);
  // Ends every stream and joins the server's threads; a stalled client can
  // delay this by the write time-out at most.
  void Stop();
  int port() const { return port_; }
  const std::string& address() const { return address_; }

 private:
  void Routes();

  SnapshotBoard* board_;
  std::unique_ptr<httplib::Server> server_;
  std::unique_ptr<WorkerPool> pool_;
  std::thread listener_;
  // Set by Start before the server's threads run; read-only afterwards.
  std::string address_;
  std::vector<std::string> hosts_;
  int port_ = 0;
  std::atomic<int> streams_{0};  // live event streams, counted by the workers
};

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_HTTP_STATUS_SERVER_H
