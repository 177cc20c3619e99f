// The HTTP server's threads: a fixed number of workers and a bounded queue
// of accepted connections. When every worker is busy and the queue is full,
// the accepting thread waits here, so further connections wait in the
// kernel's listen backlog instead of piling up in memory: the number of
// connections held is bounded whatever clients do.
#ifndef OMBRIX_BRIDGE_HTTP_WORKER_POOL_H
#define OMBRIX_BRIDGE_HTTP_WORKER_POOL_H

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace ombrix_bridge {

class WorkerPool : public httplib::TaskQueue {
 public:
  WorkerPool(size_t workers, size_t queued);
  ~WorkerPool() override;

  // Accepting thread: queues one connection, waiting while the queue is full.
  void enqueue(std::function<void()> job) override;
  // Runs the queued jobs, then ends and joins the workers.
  void shutdown() override;
  // Any thread: stop waiting for room (the server is stopping); jobs queued
  // from now on are taken beyond the bound so their connections get closed.
  void Release();

 private:
  void Work();

  const size_t queued_;
  std::mutex mutex_;               // guards jobs_, stopping_, released_
  std::condition_variable ready_;  // a job came, or shutdown
  std::condition_variable room_;   // a job was taken, or release
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  bool released_ = false;
  std::vector<std::thread> workers_;  // started in the constructor, joined by shutdown
};

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_HTTP_WORKER_POOL_H
