#include "largest_allocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> watching{false};
std::atomic<size_t> largest_request{0};

void note(size_t size) {
  if (!watching.load(std::memory_order_relaxed)) return;
  size_t seen = largest_request.load(std::memory_order_relaxed);
  while (size > seen && !largest_request.compare_exchange_weak(seen, size)) {
  }
}

void* allocate(size_t size) {
  note(size);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(size_t size) { return allocate(size); }
void* operator new[](size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace quorvane::testing {

LargestAllocationScope::LargestAllocationScope() {
  largest_request.store(0);
  watching.store(true);
}

LargestAllocationScope::~LargestAllocationScope() { watching.store(false); }

size_t LargestAllocationScope::largest() const { return largest_request.load(); }

}  // namespace quorvane::testing
