#include "worker_pool.h"

namespace ombrix_bridge {

WorkerPool::WorkerPool(size_t workers, size_t queued) : queued_(queued) {
  for (size_t i = 0; i < workers; ++i) workers_.emplace_back([this] { Work(); });
}

WorkerPool::~WorkerPool() { shutdown(); }

void WorkerPool::enqueue(std::function<void()> job) {
  std::unique_lock<std::mutex> lock(mutex_);
  room_.wait(lock, [this] { return jobs_.size() < queued_ || released_; });
  jobs_.push_back(std::move(job));
  ready_.notify_one();
}

void WorkerPool::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  released_ = true;
  room_.notify_all();
}

void WorkerPool::shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    released_ = true;
  }
  ready_.notify_all();
  room_.notify_all();
  for (std::thread& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
}

void WorkerPool::Work() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ready_.wait(lock, [this] { return !jobs_.empty() || stopping_; });
      // Jobs still queued at shutdown run too: each closes its connection.
      if (jobs_.empty()) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
      room_.notify_one();
    }
    job();
  }
}

}  // namespace ombrix_bridge
