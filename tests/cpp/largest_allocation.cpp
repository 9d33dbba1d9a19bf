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

void* allocate_or_null(size_t size) noexcept {
  note(size);
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

// Every form that pairs with the plain delete is replaced, so that what one side allocates the
// other frees with free(), also where a sanitizer's runtime brings operators of its own.
void* operator new(size_t size) { return allocate(size); }
void* operator new[](size_t size) { return allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return allocate_or_null(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return allocate_or_null(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace quorvane::testing {

LargestAllocationScope::LargestAllocationScope() {
  largest_request.store(0);
  watching.store(true);
}

LargestAllocationScope::~LargestAllocationScope() { watching.store(false); }

size_t LargestAllocationScope::largest() const { return largest_request.load(); }

}  // namespace quorvane::testing
