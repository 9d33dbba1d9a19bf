// What a fuzz target does when a property it checks does not hold: say which, and abort, so
// that the fuzzing engine keeps the input and the input driver's run fails.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace quorvane::fuzzing {

inline void fuzz_check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

}  // namespace quorvane::fuzzing
