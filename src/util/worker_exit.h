// WorkerExit: the one way a background worker thread ends, whichever way it ends.
//
// A worker declares it at the top of its body, after the parameters it releases and before
// anything it makes itself. When the body is left, by a return or by a fault alike:
//   1. what the body made after the guard (its batch, an open file) is released first, as
//      locals go in reverse order of declaration;
//   2. the guard stores false into the worker's alive flag, with release ordering, so that a
//      thread that loads the flag (acquire) and finds false also sees all the worker did;
//   3. then it runs `release`, which lets go of what the worker was given, in the order the
//      worker documents (queue ends, the store handle, counters).
// `release` must not throw. The guard keeps its own holder of the flag until it is done.
#pragma once

#include <atomic>
#include <memory>
#include <utility>

namespace quorvane {

template <class Release>
class WorkerExit {
 public:
  WorkerExit(std::shared_ptr<std::atomic<bool>> alive, Release release)
      : alive_(std::move(alive)), release_(std::move(release)) {}
  WorkerExit(const WorkerExit&) = delete;
  WorkerExit& operator=(const WorkerExit&) = delete;
  ~WorkerExit() {
    alive_->store(false, std::memory_order_release);
    release_();
  }

 private:
  std::shared_ptr<std::atomic<bool>> alive_;
  Release release_;
};

}  // namespace quorvane
