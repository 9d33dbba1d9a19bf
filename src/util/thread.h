// Background threads with a join handle that knows whether the body ended by a fault.
//
// A JoinHandle that is destroyed without join() detaches its thread: an instance released
// without close_engine leaves its threads to finish on their own. A body that throws is a
// fault: its message goes to standard error, the handle's join() reports it, and the thread
// ends instead of terminating the process.
//
// A ThreadWatch (JoinHandle::watch) tells when a thread's body is done, detached or not: it is
// marked finished once the body has returned (or thrown) and everything it owned, its
// captures included, has been released.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "util/result.h"

namespace quorvane {

namespace thread_detail {

struct ThreadState {
  std::atomic<bool> faulted{false};
  std::atomic<bool> finished{false};
};

}  // namespace thread_detail

class ThreadWatch {
 public:
  ThreadWatch() = default;
  explicit ThreadWatch(std::shared_ptr<const thread_detail::ThreadState> state)
      : state_(std::move(state)) {}

  // True once the body is done (and for a watch of no thread).
  bool finished() const;
  // Waits until the body is done.
  void wait() const;

 private:
  std::shared_ptr<const thread_detail::ThreadState> state_;
};

class JoinHandle {
 public:
  JoinHandle() = default;
  JoinHandle(std::thread thread, std::shared_ptr<thread_detail::ThreadState> state)
      : thread_(std::move(thread)), state_(std::move(state)) {}
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
  ThreadWatch watch() const { return ThreadWatch(state_); }

 private:
  std::thread thread_;
  std::shared_ptr<thread_detail::ThreadState> state_;
};

namespace thread_detail {

// Runs `run(body)`; a throw is a fault: `faulted` is set and its message goes to standard
// error.
void run_reporting_faults(void (*run)(void*), void* body, std::atomic<bool>& faulted) noexcept;

// Marks the thread's body done and wakes whoever waits for it.
void mark_finished(ThreadState& state) noexcept;

// "failed to spawn thread: <system error>".
Err spawn_failure(const std::system_error& error);

}  // namespace thread_detail

// Starts `body()` on a new thread. `body` is moved to the thread, so it may own move-only
// values (queue ends, say), which it can move on from its call; it is released on the thread
// once it has run. Fails with "failed to spawn thread: <system error>" when the system cannot
// start a thread; `body` is then released on the calling thread.
template <class Body>
Result<JoinHandle> spawn_thread(Body body) {
  auto state = std::make_shared<thread_detail::ThreadState>();
  try {
    std::thread thread([body = std::optional<Body>(std::move(body)), state]() mutable {
      thread_detail::run_reporting_faults(
          [](void* b) { (**static_cast<std::optional<Body>*>(b))(); }, &body, state->faulted);
      body.reset();
      thread_detail::mark_finished(*state);
    });
    return JoinHandle(std::move(thread), std::move(state));
  } catch (const std::system_error& e) {
    return thread_detail::spawn_failure(e);
  }
}

}  // namespace quorvane
