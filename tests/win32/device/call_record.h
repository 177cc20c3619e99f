// What a callback sees of its own calls: how many, on which threads, with
// which arguments and at which stack address. On 32-bit the library calls
// the callbacks as stdcall, so the callee removes its arguments; a caller
// that assumed otherwise would leave its stack pointer moved by the
// argument bytes after every call, and the next call from the same place
// would find its frame at another address. Steady frames across calls from
// one place, right arguments and a library thread are what "a correct
// stack" means here.
#ifndef OMBRIX_TESTS_WIN32_DEVICE_CALL_RECORD_H
#define OMBRIX_TESTS_WIN32_DEVICE_CALL_RECORD_H

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

namespace device_test {

struct Call {
  DWORD thread;
  uintptr_t frame;
  int64_t first;
  int64_t second;
};

class CallRecord {
 public:
  // Called on the library thread that runs the callback.
  void Note(uintptr_t frame, int64_t first, int64_t second = -1) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(Call{GetCurrentThreadId(), frame, first, second});
  }
  std::vector<Call> Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  size_t Count() const { return Calls().size(); }
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Call> calls_;  // guarded by mutex_
};

// The frame address of the calling function.
#define OMBRIX_FRAME() reinterpret_cast<uintptr_t>(__builtin_frame_address(0))

// Every call on one thread other than the application's and, for calls
// that all come from one place in the library (steadyFrame), each at the
// same frame address. The thread is returned through thread.
inline ::testing::AssertionResult OneLibraryThread(const std::vector<Call>& calls, DWORD applicationThread,
                                                   DWORD* thread, bool steadyFrame) {
  if (calls.empty()) return ::testing::AssertionFailure() << "never called";
  std::set<DWORD> threads;
  std::set<uintptr_t> frames;
  for (const Call& call : calls) {
    threads.insert(call.thread);
    frames.insert(call.frame);
  }
  if (threads.size() != 1) return ::testing::AssertionFailure() << "called on " << threads.size() << " threads";
  if (*threads.begin() == applicationThread)
    return ::testing::AssertionFailure() << "called on the application's thread";
  if (steadyFrame && frames.size() != 1) {
    return ::testing::AssertionFailure() << calls.size() << " calls from one place at " << frames.size()
                                         << " different stack addresses: the stack pointer drifts";
  }
  if (thread != nullptr) *thread = *threads.begin();
  return ::testing::AssertionSuccess();
}

}  // namespace device_test

#endif  // OMBRIX_TESTS_WIN32_DEVICE_CALL_RECORD_H
