// Background threads with a join handle that knows whether the body ended by a fault.
//
// A JoinHandle that is destroyed without join() detaches its thread: an instance released
// without close_engine leaves its threads to finish on their own. A body that throws is a
// fault: its message goes to standard error, the handle's join() reports it, and the thread
// ends instead of terminating the process.
#pragma once

#include <atomic>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "util/result.h"

namespace quorvane {

class JoinHandle {
 public:
  JoinHandle() = default;
  JoinHandle(std::thread thread, std::shared_ptr<std::atomic<bool>> faulted)
      : thread_(std::move(thread)), faulted_(std::move(faulted)) {}
  JoinHandle(JoinHandle&&) noexcept = default;
  JoinHandle& operator=(JoinHandle&& other) noexcept;
  JoinHandle(const JoinHandle&) = delete;
  JoinHandle& operator=(const JoinHandle&) = delete;
  ~JoinHandle();

  bool joinable() const { return thread_.joinable(); }
  // Waits for the thread. Returns false when its body ended by a fault.
  bool join();
  // Leaves the thread running on its own.
  void detach();

 private:
  std::thread thread_;
  std::shared_ptr<std::atomic<bool>> faulted_;
};

namespace thread_detail {

// Runs `run(body)`; a throw is a fault: `faulted` is set and its message goes to standard
// error.
void run_reporting_faults(void (*run)(void*), void* body, std::atomic<bool>& faulted) noexcept;

// "failed to spawn thread: <system error>".
Err spawn_failure(const std::system_error& error);

}  // namespace thread_detail

// Starts `body()` on a new thread. `body` is moved to the thread, so it may own move-only
// values (queue ends, say), which it can move on from its call. Fails with
// "failed to spawn thread: <system error>" when the system cannot start a thread; `body` is
// then released on the calling thread.
template <class Body>
Result<JoinHandle> spawn_thread(Body body) {
  auto faulted = std::make_shared<std::atomic<bool>>(false);
  try {
    std::thread thread([body = std::move(body), faulted]() mutable {
      thread_detail::run_reporting_faults([](void* b) { (*static_cast<Body*>(b))(); }, &body,
                                          *faulted);
    });
    return JoinHandle(std::move(thread), std::move(faulted));
  } catch (const std::system_error& e) {
    return thread_detail::spawn_failure(e);
  }
}

}  // namespace quorvane
