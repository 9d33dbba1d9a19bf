// Releasing and retaking the GIL around work that touches no Python object.
#pragma once

#include <utility>

#include "binding/python.h"

namespace quorvane::binding {

// Releases the GIL for the lifetime of the object; retakes it on every exit path.
class GilReleased {
 public:
  GilReleased() : state_(PyEval_SaveThread()) {}
  GilReleased(const GilReleased&) = delete;
  GilReleased& operator=(const GilReleased&) = delete;
  ~GilReleased() { PyEval_RestoreThread(state_); }

 private:
  PyThreadState* state_;
};

// Runs `f` with the GIL released and gives back its result with the GIL held again.
template <class F>
auto without_gil(F&& f) -> decltype(f()) {
  GilReleased released;
  return std::forward<F>(f)();
}

}  // namespace quorvane::binding
