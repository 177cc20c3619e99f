// `ombrix bridge --http [ADDRESS:]PORT`: a read-only page that shows the
// bridge live, and GET /api/status for monitoring scripts.
//
// The bridge thread calls Update() from its tick; while anybody looks, it
// makes a snapshot about 12 times a second and leaves it on the board. The
// HTTP threads only ever read snapshots from the board.
#ifndef OMBRIX_BRIDGE_HTTP_STATUS_PAGE_H
#define OMBRIX_BRIDGE_HTTP_STATUS_PAGE_H

#include <memory>
#include <string>
#include <vector>

#include "snapshot_board.h"
#include "status_collector.h"
#include "status_server.h"

namespace ombrix_bridge {

// Time between two snapshots while the page is watched (at a 20 ms tick:
// every fourth tick, 12.5 per second).
constexpr std::chrono::milliseconds kPagePeriod{70};

class StatusPage {
 public:
  StatusPage(const Api& api, const BridgeConfig& config);
  ~StatusPage();

  // Bridge thread: binds config.http and starts serving.
  bool Start(std::string* error);
  // Bridge thread, on every tick.
  void Update(const std::vector<std::unique_ptr<OutputUniverse>>& outputs,
              const std::vector<std::unique_ptr<InputStream>>& inputs,
              const std::vector<std::unique_ptr<InterfacePort>>& ports, const SacnReceiver& sacn,
              const ArtnetNode& artnet);
  void Stop();

  int port() const { return server_.port(); }
  // "http://127.0.0.1:8080/"
  std::string Url() const;

 private:
  const BridgeConfig& config_;
  SnapshotBoard board_;
  StatusCollector collector_;
  StatusServer server_;
  TimePoint lastUpdate_{};  // bridge thread
};

// Checks --http (or the file's http) before anything opens; error gets a
// sentence. Empty text (no page) is fine.
bool CheckHttpAddress(const std::string& text, std::string* error);

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_HTTP_STATUS_PAGE_H
