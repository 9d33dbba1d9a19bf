// Releasing and retaking the GIL around work that touches no Python object.
//
// Once the interpreter has begun to finalize, a thread (a daemon thread of the program) that
// tries to take the GIL back is ended by the interpreter with pthread_exit, whose forced
// unwind would run into the destructor below, which cannot throw: the process would abort.
// Such a thread is stopped here instead, for the short rest of the process's life, before
// anything of the call it was making is released without the GIL (see park_thread.h).
#pragma once

#include <utility>

#include "binding/park_thread.h"
#include "binding/python.h"

namespace quorvane::binding {

// Releases the GIL for the lifetime of the object; retakes it on every exit path.
class GilReleased {
 public:
  GilReleased() : state_(PyEval_SaveThread()) {}
  GilReleased(const GilReleased&) = delete;
  GilReleased& operator=(const GilReleased&) = delete;
  ~GilReleased() {
    try {
      PyEval_RestoreThread(state_);
    } catch (...) {  // nothing but the forced unwind of a thread the interpreter ends
      park_thread_forever();
    }
  }

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
