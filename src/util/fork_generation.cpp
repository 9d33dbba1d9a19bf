#include "util/fork_generation.h"

#include <pthread.h>

#include <atomic>
#include <mutex>

namespace quorvane {

namespace {

std::atomic<uint64_t> generation{0};

void advance_generation() { generation.fetch_add(1, std::memory_order_relaxed); }

void register_generation_handler() {
  static std::once_flag once;
  std::call_once(once, [] { (void)pthread_atfork(nullptr, nullptr, advance_generation); });
}

// Registered as soon as the module loads, so that no fork goes uncounted.
[[maybe_unused]] const bool registered_at_load = (register_generation_handler(), true);

}  // namespace

uint64_t fork_generation() { return generation.load(std::memory_order_relaxed); }

void at_fork(void (*prepare)(), void (*parent)(), void (*child)()) {
  register_generation_handler();
  (void)pthread_atfork(prepare, parent, child);
}

}  // namespace quorvane
