// Background threads with a join handle that knows whether the body ended by a fault.
//
// A JoinHandle that is destroyed without join() detaches its thread: an instance released
// without close_engine leaves its threads to finish on their own. A body that throws is a
// fault: its message goes to standard error, the handle's join() reports it, and the thread
// ends instead of terminating the process.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

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

// Starts `body` on a new thread. Fails with "failed to spawn thread: <system error>" when
// the system cannot start one.
Result<JoinHandle> spawn_thread(std::function<void()> body);

}  // namespace quorvane
