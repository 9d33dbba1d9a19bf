#include "util/thread.h"

#include <cstdio>
#include <exception>
#include <string>

namespace quorvane {

JoinHandle& JoinHandle::operator=(JoinHandle&& other) noexcept {
  if (this != &other) {
    detach();
    thread_ = std::move(other.thread_);
    state_ = std::move(other.state_);
  }
  return *this;
}

JoinHandle::~JoinHandle() { detach(); }

bool JoinHandle::join() {
  if (!thread_.joinable()) return true;
  thread_.join();
  return !(state_ && state_->faulted.load(std::memory_order_acquire));
}

void JoinHandle::detach() {
  if (thread_.joinable()) thread_.detach();
}

bool ThreadWatch::finished() const {
  return !state_ || state_->finished.load(std::memory_order_acquire);
}

void ThreadWatch::wait() const {
  if (!state_) return;
  while (!state_->finished.load(std::memory_order_acquire)) {
    state_->finished.wait(false, std::memory_order_acquire);
  }
}

namespace thread_detail {

namespace {

void report_fault(const char* what) {
  std::fprintf(stderr, "thread '<unnamed>' panicked: %s\n", what);
  std::fflush(stderr);
}

}  // namespace

void run_reporting_faults(void (*run)(void*), void* body, std::atomic<bool>& faulted) noexcept {
  try {
    run(body);
  } catch (const std::exception& e) {
    faulted.store(true, std::memory_order_release);
    report_fault(e.what());
  } catch (...) {
    faulted.store(true, std::memory_order_release);
    report_fault("unknown fault");
  }
}

void mark_finished(ThreadState& state) noexcept {
  state.finished.store(true, std::memory_order_release);
  state.finished.notify_all();
}

Err spawn_failure(const std::system_error& error) {
  return Err{std::string("failed to spawn thread: ") + error.what()};
}

}  // namespace thread_detail

}  // namespace quorvane
