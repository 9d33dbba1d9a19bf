// Which process an object belongs to, without a system call per check.
//
// A child of fork() holds a copy of every object of its parent but none of the parent's
// threads, and any mutex that one of those threads held at the fork stays locked in the
// child. An object that owns threads, files or locks records the generation it was made in;
// a handler registered with pthread_atfork adds one to the generation in every child, so an
// object from before the fork sees a generation other than its own and knows that it is a
// copy it must neither use nor release.
#pragma once

#include <cstdint>

namespace quorvane {

// The calling process's generation: 0 in the process that loaded the module, one more in
// each forked child than in its parent. One relaxed atomic load.
uint64_t fork_generation();

// True while the calling process is the one in which `generation` was read.
inline bool owned_by_this_process(uint64_t generation) { return generation == fork_generation(); }

// Registers `prepare`, `parent` and `child` with pthread_atfork, after the handler that
// advances the generation (so `child` already sees the child's generation). For the mutexes
// of our own that a fork could catch held: `prepare` takes them, the other two let them go.
void at_fork(void (*prepare)(), void (*parent)(), void (*child)());

}  // namespace quorvane
