#include "lifecycle/exit_commit.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>

#include "util/console.h"
#include "util/fork_generation.h"
#include "util/no_destructor.h"

namespace quorvane::lifecycle {

namespace {

struct Entry {
  uint64_t generation;
  InstanceWriters writers;

  bool done() const {
    return std::all_of(writers.stages.begin(), writers.stages.end(),
                       [](const WriterStage& s) { return s.thread.finished(); }) &&
           !(writers.failure && writers.failure->pending());
  }
};

struct Registry {
  std::mutex mutex;
  std::vector<std::shared_ptr<Entry>> entries;
};

Registry& registry() {
  static NoDestructor<Registry> instance;
  return instance.get();
}

// The background tasks running in this process. A child of fork() has none of its parent's
// threads, so it starts again from 0.
std::atomic<size_t> running_tasks{0};

void forget_parents_tasks() { running_tasks.store(0, std::memory_order_relaxed); }

[[maybe_unused]] const bool task_count_reset_at_fork =
    (at_fork(nullptr, nullptr, forget_parents_tasks), true);

void wait_for_background_tasks() {
  for (size_t n = running_tasks.load(std::memory_order_acquire); n != 0;
       n = running_tasks.load(std::memory_order_acquire)) {
    running_tasks.wait(n, std::memory_order_acquire);
  }
}

std::vector<std::shared_ptr<Entry>> entries_of_this_process() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  std::vector<std::shared_ptr<Entry>> mine;
  for (const std::shared_ptr<Entry>& e : r.entries) {
    if (owned_by_this_process(e->generation)) mine.push_back(e);
  }
  return mine;
}

}  // namespace

void register_writers(InstanceWriters writers) {
  auto entry = std::make_shared<Entry>(Entry{fork_generation(), std::move(writers)});
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  // Another process's entries stay as they are: nothing of theirs is touched here.
  std::erase_if(r.entries, [](const std::shared_ptr<Entry>& e) {
    return owned_by_this_process(e->generation) && e->done();
  });
  r.entries.push_back(std::move(entry));
}

void commit_writes_at_exit() {
  const std::vector<std::shared_ptr<Entry>> mine = entries_of_this_process();
  // Every instance's first queue is closed before any is waited for, so that they all drain
  // at once.
  for (const std::shared_ptr<Entry>& e : mine) {
    if (!e->writers.stages.empty() && e->writers.stages.front().close_queue) {
      e->writers.stages.front().close_queue();
    }
  }
  // Then each writer in turn (closing a queue again changes nothing).
  for (const std::shared_ptr<Entry>& e : mine) {
    for (const WriterStage& stage : e->writers.stages) {
      if (stage.close_queue) stage.close_queue();
      stage.thread.wait();
    }
  }
  wait_for_background_tasks();
  for (const std::shared_ptr<Entry>& e : mine) {
    if (!e->writers.failure) continue;
    if (std::optional<std::string> message = e->writers.failure->take()) {
      print_stderr_line(e->writers.failure_line(*message));
    }
  }
}

BackgroundTask::BackgroundTask() : counted_(true) {
  running_tasks.fetch_add(1, std::memory_order_acq_rel);
}

BackgroundTask::~BackgroundTask() {
  if (!counted_) return;
  if (running_tasks.fetch_sub(1, std::memory_order_acq_rel) == 1) running_tasks.notify_all();
}

}  // namespace quorvane::lifecycle
