// The commit at the interpreter's exit: every write that an instance of either class accepted
// is committed before the process ends, as if close_engine had run, whether the instance is
// still referenced (by a cycle, by a daemon thread, by a global) or was freed with its writers
// still draining what it had queued.
//
// Each instance registers its writers here when it is constructed (register_writers), and
// commit_writes_at_exit() runs at the end of the interpreter (module/exit_hook.h). For every
// instance of this process it closes, in order, the queue of each writer thread, so that the
// queue admits nothing more (a write that comes later fails, even from a thread sending with
// the GIL released) and the thread ends once it has handled what was admitted, then waits for
// that thread. Then it waits for the background tasks still running (backups already
// requested), and prints, one line each on standard error, the failures that the writers
// recorded and nobody has taken (CommitFailure).
//
// An entry belongs to the process that registered it: in a child of fork() the parent's
// entries are never touched (their threads do not exist there). Entries whose threads have
// all ended and that have nothing left to report are dropped when the next instance registers.
// The registry is used with the GIL held, or after the interpreter has finalized; it never
// waits while its own mutex is held. The read and write paths never touch it.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lifecycle/commit_failure.h"
#include "util/thread.h"

namespace quorvane::lifecycle {

// One writer thread of an instance: how its queue is closed (nothing, when the thread ends
// once the one before it has ended) and how its end is seen.
struct WriterStage {
  std::function<void()> close_queue;
  ThreadWatch thread;
};

// What the exit needs of one instance.
struct InstanceWriters {
  std::vector<WriterStage> stages;  // in the order in which they end
  std::shared_ptr<CommitFailure> failure;
  // The line printed for a failure nobody has taken, made from the store's message.
  std::function<std::string(std::string_view message)> failure_line;
};

void register_writers(InstanceWriters writers);

// Runs the commit for every instance of this process (see above). Safe to run again: a
// second run waits only for what was registered or queued since.
void commit_writes_at_exit();

// A thread of an instance that is neither a writer nor joined (a backup worker): the exit
// waits until every BackgroundTask of this process is released. Make it before the thread
// starts and move it into the thread's body.
class BackgroundTask {
 public:
  BackgroundTask();
  BackgroundTask(BackgroundTask&& other) noexcept
      : counted_(std::exchange(other.counted_, false)) {}
  BackgroundTask& operator=(BackgroundTask&&) = delete;
  BackgroundTask(const BackgroundTask&) = delete;
  BackgroundTask& operator=(const BackgroundTask&) = delete;
  ~BackgroundTask();

 private:
  bool counted_;
};

}  // namespace quorvane::lifecycle
