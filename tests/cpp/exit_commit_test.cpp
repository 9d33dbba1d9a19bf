#include "lifecycle/exit_commit.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "channel/channel.h"
#include "test_support.h"
#include "util/thread.h"

namespace quorvane::lifecycle {
namespace {

using namespace std::chrono_literals;

// What the threads of the test did, in order.
class Events {
 public:
  void add(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  std::vector<std::string> taken() {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> events_;
};

// A writer thread: takes its queue's values, slowly, until the queue is disconnected.
JoinHandle drain(channel::Receiver<int> queue, Events& events, const std::string& name) {
  return spawn_thread([queue = std::move(queue), &events, name]() mutable {
           while (std::optional<int> value = queue.recv()) {
             std::this_thread::sleep_for(1ms);
             events.add(name + " " + std::to_string(*value));
           }
           events.add(name + " ended");
         })
      .value();
}

// Standard error's writes while it is alive, read from a file put in its place.
class CapturedStderr {
 public:
  CapturedStderr() : file_(std::tmpfile()), saved_(::dup(2)) { ::dup2(fileno(file_), 2); }
  ~CapturedStderr() {
    ::dup2(saved_, 2);
    ::close(saved_);
    std::fclose(file_);
  }
  CapturedStderr(const CapturedStderr&) = delete;
  CapturedStderr& operator=(const CapturedStderr&) = delete;
  std::string text() const {
    std::string out;
    char buffer[4096];
    ssize_t n;
    for (off_t at = 0; (n = ::pread(fileno(file_), buffer, sizeof buffer, at)) > 0; at += n) {
      out.append(buffer, static_cast<size_t>(n));
    }
    return out;
  }

 private:
  std::FILE* file_;
  int saved_;
};

TEST(ExitCommit, ClosesEachQueueInTurnAndWaitsForEveryWriterAndTask) {
  Events events;
  auto first = channel::bounded<int>(100);
  auto second = channel::bounded<int>(100);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(first.sender.send(i));
  ASSERT_TRUE(second.sender.send(10));
  JoinHandle first_thread = drain(std::move(first.receiver), events, "first");
  JoinHandle second_thread = drain(std::move(second.receiver), events, "second");
  InstanceWriters writers;
  writers.stages.push_back({[closer = first.sender.closer(), &events] {
                              events.add("close first");
                              closer.close();
                            },
                            first_thread.watch()});
  writers.stages.push_back({[closer = second.sender.closer(), &events] {
                              events.add("close second");
                              closer.close();
                            },
                            second_thread.watch()});
  writers.failure = std::make_shared<CommitFailure>();
  register_writers(std::move(writers));
  // The instance is gone: its threads are on their own, as an instance released without
  // close_engine leaves them.
  first_thread.detach();
  second_thread.detach();

  // A task running beside them, as a backup does.
  std::atomic<bool> task_done{false};
  spawn_thread([task = BackgroundTask(), &task_done] {
    std::this_thread::sleep_for(50ms);
    task_done = true;
  })
      .value()
      .detach();

  commit_writes_at_exit();
  EXPECT_TRUE(task_done.load());
  // Sends after the commit are refused.
  EXPECT_FALSE(first.sender.send(3));
  EXPECT_FALSE(second.sender.send(11));
  // Every value was taken; the second queue was closed only once the first writer had ended.
  const std::vector<std::string> seen = events.taken();
  const auto at = [&](const std::string& event) {
    return std::find(seen.begin(), seen.end(), event) - seen.begin();
  };
  std::vector<std::string> of_first;
  std::copy_if(seen.begin(), seen.end(), std::back_inserter(of_first),
               [](const std::string& e) { return e.rfind("first ", 0) == 0; });
  EXPECT_EQ(of_first, (std::vector<std::string>{"first 0", "first 1", "first 2", "first ended"}));
  EXPECT_LT(at("second 10"), static_cast<std::ptrdiff_t>(seen.size()));
  EXPECT_LT(at("first ended"), at("close second"));
  EXPECT_LT(at("close second"), at("second ended"));
  EXPECT_EQ(seen.back(), "second ended");
}

TEST(ExitCommit, PrintsAFailureNobodyTookOnce) {
  auto failure = std::make_shared<CommitFailure>();
  auto queue = channel::bounded<int>(1);
  Events events;
  JoinHandle thread = drain(std::move(queue.receiver), events, "writer");
  InstanceWriters writers;
  writers.stages.push_back({[closer = queue.sender.closer()] { closer.close(); }, thread.watch()});
  writers.failure = failure;
  writers.failure_line = [](std::string_view message) {
    return "store x: " + std::string(message);
  };
  register_writers(std::move(writers));
  failure->record("disk I/O error");
  failure->record("a later failure is not kept");

  CapturedStderr captured;
  commit_writes_at_exit();
  commit_writes_at_exit();  // the second run has nothing more to say
  EXPECT_EQ(captured.text(), "store x: disk I/O error\n");
  EXPECT_FALSE(failure->take());
}

}  // namespace
}  // namespace quorvane::lifecycle
