// Where the bridge thread leaves the newest status snapshot for the HTTP
// threads. Publishing swaps one pointer under a mutex that is only ever held
// for that swap or a pointer copy, so a slow or stalled browser can never
// hold up the bridge thread: it holds its own reference to an immutable
// snapshot, not a lock.
//
// The JSON text of a snapshot is made once, by the first HTTP thread that
// needs it, and shared by every client; the bridge thread never builds it.
#ifndef OMBRIX_BRIDGE_HTTP_SNAPSHOT_BOARD_H
#define OMBRIX_BRIDGE_HTTP_SNAPSHOT_BOARD_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "status_snapshot.h"

namespace ombrix_bridge {

// A published snapshot and its JSON text, made on first use.
class PublishedStatus {
 public:
  explicit PublishedStatus(StatusSnapshot snapshot) : snapshot_(std::move(snapshot)) {}
  const StatusSnapshot& snapshot() const { return snapshot_; }
  // Any thread; the first caller builds the text, the others wait for it.
  const std::string& Json() const;

 private:
  const StatusSnapshot snapshot_;
  mutable std::once_flag jsonOnce_;
  mutable std::string json_;  // written once under jsonOnce_
};

class SnapshotBoard {
 public:
  using Clock = std::chrono::steady_clock;

  // Bridge thread.
  void Publish(StatusSnapshot snapshot);
  // Bridge thread: whether anybody asked for a snapshot lately. Snapshots
  // are made only while someone looks, so an unwatched page costs nothing.
  bool Watched(Clock::time_point now) const;

  // HTTP threads. A current snapshot: the newest one while the board was
  // being watched; otherwise (it may be old) the next one, waiting up to
  // timeout for it. Null when none came. Marks the board watched.
  std::shared_ptr<const PublishedStatus> Current(std::chrono::milliseconds timeout);
  // Waits up to timeout for a snapshot newer than sequence (or for Close)
  // and returns the newest one; marks the board watched.
  std::shared_ptr<const PublishedStatus> WaitNewer(uint64_t sequence, std::chrono::milliseconds timeout);
  // Wakes every waiter for good: the server is stopping.
  void Close();
  bool closed() const { return closed_.load(); }

 private:
  void MarkWatched();

  mutable std::mutex mutex_;  // guards latest_ only; held for a pointer copy or swap
  std::condition_variable published_;
  std::shared_ptr<const PublishedStatus> latest_;  // written by the bridge thread
  // Written by HTTP threads, read by the bridge thread (relaxed: a hint).
  std::atomic<int64_t> lastWatched_{INT64_MIN / 2};
  std::atomic<bool> closed_{false};  // set once by the thread that stops the server
};

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_HTTP_SNAPSHOT_BOARD_H
