// Stopping a thread that the interpreter ends while it finalizes.
//
// CPython ends a thread that tries to take the GIL once finalization has begun (a daemon
// thread) with pthread_exit. Its forced unwind runs every destructor on its way and may not
// be swallowed: a frame that cannot throw, or a catch that does not rethrow, aborts the
// process. A frame of ours that meets it catches it and parks the thread instead: it sleeps
// until the process exits, holding what it holds, which is what the interpreter does with
// such threads from 3.14 on. Nothing of the interrupted call is released, so no Python object
// is touched without the GIL.
//
// The forced unwind is no C++ exception: it is caught with catch (...), inside which
// std::current_exception() is empty for it (a catch of abi::__forced_unwind would bind a
// reference to no object).
#pragma once

namespace quorvane::binding {

[[noreturn]] void park_thread_forever() noexcept;

}  // namespace quorvane::binding
