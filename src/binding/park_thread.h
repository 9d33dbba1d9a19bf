// Stopping a thread that the interpreter ends while it finalizes.
//
// CPython ends a thread that tries to take the GIL once finalization has begun (a daemon
// thread) with pthread_exit. Its forced unwind runs every destructor on its way and may not
// be swallowed: a frame that cannot throw, or a catch that does not rethrow, aborts the
// process. A frame of ours that meets it catches it and parks the thread instead: it sleeps
// until the process exits, holding what it holds, which is what the interpreter does with
// such threads from 3.14 on.
//
// It is caught where the GIL is taken back: by the GIL guard (gil.h), and around each call
// into the interpreter that may run Python code of the program's (a mapping's or a
// sequence's methods, __index__, __del__ through a release, an exception's __str__), which
// may release and retake the GIL: calling_python(). So nothing of the interrupted call is
// released, and no Python object is touched without the GIL. guarded() (errors.h) parks too,
// as a last resort, for a way in that none of these covers (a finalizer that the interpreter's
// collector runs inside an allocation, say): by then the destructors between have run.
//
// The forced unwind is no C++ exception: it is caught with catch (...), inside which
// std::current_exception() is empty for it (a catch of abi::__forced_unwind would bind a
// reference to no object).
#pragma once

#include <exception>

namespace quorvane::binding {

[[noreturn]] void park_thread_forever() noexcept;

// Runs `call` (a call into the interpreter, see above) and gives back what it returns; parks
// the thread when the interpreter ends it there. A C++ exception passes through.
template <class Call>
decltype(auto) calling_python(Call&& call) {
  try {
    return call();
  } catch (...) {
    if (!std::current_exception()) park_thread_forever();
    throw;
  }
}

}  // namespace quorvane::binding
