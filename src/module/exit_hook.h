// The commit at the interpreter's end (lifecycle/exit_commit.h), hooked into the interpreter
// once per process by the module's execution step.
//
// Two hooks run it:
//  - a function registered with the atexit module, which the interpreter calls at its end
//    (the main program returned, sys.exit, an uncaught exception or KeyboardInterrupt) once it
//    has joined the threads that are not daemons and while every object is still alive. The
//    handlers that the program registered after importing this module run before it, so their
//    writes are committed too; from then on every write raises ("Background write worker has
//    crashed!"), and reads keep working. It runs with the GIL held, like close_engine.
//  - Py_AtExit, at the very end of finalization, for what the atexit handlers that run after
//    ours (those registered before the import) queued or opened; it touches no Python object.
// Neither runs when the process ends by os._exit or a signal.
#pragma once

#include "binding/python.h"

namespace quorvane::module {

// Hooks the commit in, once per process. False with an exception set when the atexit module
// cannot be reached.
bool hook_exit_commit();

}  // namespace quorvane::module
