// The process an instance belongs to: the one that constructed it.
//
// A child of fork() holds a copy of every instance of its parent, but none of the threads
// that apply its writes, and its copy of the store's in-memory state (SQLite keeps the log
// index of a store in heap memory) no longer follows the file. Such a copy is unusable: every
// method and property of either class calls owned_here() first (method.h), before it matches
// arguments or takes the borrow (a borrow flag copied from the parent in the middle of a call would
// otherwise refuse for ever), and in any other process raises RuntimeError
// "This <class> was opened in another process (pid <pid>); open the database again in this
// process". Nothing is read, queued or waited for.
//
// The check costs one relaxed atomic load and a comparison (the fork generation), no system
// call. The pid is read once, at construction, for the message only.
//
// Releasing a copy in another process must touch no file, lock, thread or mutex of the
// parent's: the instance's tp_dealloc (instance.h) asks owner.here() and leaves the engine's
// memory as it is (it is the child's private copy) when it is false.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdint>

#include "binding/python.h"
#include "util/fork_generation.h"

namespace quorvane::binding {

class ProcessOwner {
 public:
  // Records the calling process as the owner.
  ProcessOwner() : generation_(fork_generation()), pid_(::getpid()) {}

  bool here() const { return owned_by_this_process(generation_); }
  pid_t pid() const { return pid_; }

 private:
  uint64_t generation_;
  pid_t pid_;
};

// Sets the RuntimeError of an instance of the class `class_name` used outside the process that
// constructed it.
void raise_opened_in_another_process(const ProcessOwner& owner, const char* class_name);

// True in the process that constructed the instance; otherwise sets the RuntimeError, naming
// the class `class_name`, and returns false.
inline bool owned_here(const ProcessOwner& owner, const char* class_name) {
  if (owner.here()) [[likely]] {
    return true;
  }
  raise_opened_in_another_process(owner, class_name);
  return false;
}

}  // namespace quorvane::binding
