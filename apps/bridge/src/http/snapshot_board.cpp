#include "snapshot_board.h"

#include "status_json.h"

namespace ombrix_bridge {
namespace {

// How long after the last request the bridge keeps making snapshots: more
// than the gap between two polls of a monitoring script or a reconnecting
// page, so that they find a fresh one.
constexpr std::chrono::seconds kWatchedFor{5};

int64_t Ticks(SnapshotBoard::Clock::time_point time) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

}  // namespace

const std::string& PublishedStatus::Json() const {
  std::call_once(jsonOnce_, [this] { json_ = StatusJson(snapshot_); });
  return json_;
}

void SnapshotBoard::Publish(StatusSnapshot snapshot) {
  // Built outside the lock: only the pointer swap happens under it.
  auto published = std::make_shared<const PublishedStatus>(std::move(snapshot));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    latest_.swap(published);
  }
  published_.notify_all();
  // The previous snapshot is released here, outside the lock, unless an
  // HTTP thread still holds it; then that thread releases it.
}

bool SnapshotBoard::Watched(Clock::time_point now) const {
  return Ticks(now) - lastWatched_.load(std::memory_order_relaxed) <=
         std::chrono::duration_cast<std::chrono::milliseconds>(kWatchedFor).count();
}

void SnapshotBoard::MarkWatched() { lastWatched_.store(Ticks(Clock::now()), std::memory_order_relaxed); }

std::shared_ptr<const PublishedStatus> SnapshotBoard::Current(std::chrono::milliseconds timeout) {
  bool fresh = Watched(Clock::now());
  std::shared_ptr<const PublishedStatus> latest;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    latest = latest_;
  }
  if (fresh && latest) {
    MarkWatched();
    return latest;
  }
  return WaitNewer(latest ? latest->snapshot().sequence : 0, timeout);
}

std::shared_ptr<const PublishedStatus> SnapshotBoard::WaitNewer(uint64_t sequence, std::chrono::milliseconds timeout) {
  MarkWatched();
  std::unique_lock<std::mutex> lock(mutex_);
  published_.wait_for(lock, timeout,
                      [&] { return closed_.load() || (latest_ && latest_->snapshot().sequence > sequence); });
  return latest_;
}

void SnapshotBoard::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_.store(true);
  }
  published_.notify_all();
}

}  // namespace ombrix_bridge
