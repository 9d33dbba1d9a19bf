// Watching how much memory one piece of code asks for at once. Linking largest_allocation.cpp
// into a test replaces the global operator new and delete of that test's executable with
// versions that note the largest single request; only tests that link it see any numbers.
#pragma once

#include <cstddef>

namespace quorvane::testing {

// Records the largest single operator new request made, on any thread, while it lives.
// Scopes do not nest.
class LargestAllocationScope {
 public:
  LargestAllocationScope();
  ~LargestAllocationScope();
  LargestAllocationScope(const LargestAllocationScope&) = delete;
  LargestAllocationScope& operator=(const LargestAllocationScope&) = delete;

  // The largest request so far, in bytes.
  size_t largest() const;
};

}  // namespace quorvane::testing
