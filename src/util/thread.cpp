#include "util/thread.h"

#include <cstdio>
#include <exception>
#include <system_error>

namespace quorvane {

JoinHandle& JoinHandle::operator=(JoinHandle&& other) noexcept {
  if (this != &other) {
    detach();
    thread_ = std::move(other.thread_);
    faulted_ = std::move(other.faulted_);
  }
  return *this;
}

JoinHandle::~JoinHandle() { detach(); }

bool JoinHandle::join() {
  if (!thread_.joinable()) return true;
  thread_.join();
  return !(faulted_ && faulted_->load(std::memory_order_acquire));
}

void JoinHandle::detach() {
  if (thread_.joinable()) thread_.detach();
}

namespace {

void report_fault(const char* what) {
  std::fprintf(stderr, "thread '<unnamed>' panicked: %s\n", what);
  std::fflush(stderr);
}

}  // namespace

Result<JoinHandle> spawn_thread(std::function<void()> body) {
  auto faulted = std::make_shared<std::atomic<bool>>(false);
  try {
    std::thread thread([body = std::move(body), faulted]() mutable {
      try {
        body();
      } catch (const std::exception& e) {
        faulted->store(true, std::memory_order_release);
        report_fault(e.what());
      } catch (...) {
        faulted->store(true, std::memory_order_release);
        report_fault("unknown fault");
      }
    });
    return JoinHandle(std::move(thread), std::move(faulted));
  } catch (const std::system_error& e) {
    return Err{std::string("failed to spawn thread: ") + e.what()};
  }
}

}  // namespace quorvane
