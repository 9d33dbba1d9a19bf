// Helpers shared by the C++ tests: temporary directories and polling with a deadline.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace quorvane::testing {

// A fresh directory, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets TZ (and tzset) for its lifetime, then restores what was there before.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone);
  ~ScopedTimeZone();
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  bool had_zone_ = false;
  std::string previous_;
};

// The whole content of a file; empty when it cannot be read.
std::string read_file(const std::string& path);

// Polls `condition` until it holds or `timeout` passes; returns its last answer.
bool wait_until(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace quorvane::testing

#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "store/store.h"

struct sqlite3;

namespace quorvane::testing {

// Everything in the store's two tables, read through a read connection of the pool.
std::map<std::string, std::string> dump_documents(store::Store& store);
std::set<std::pair<std::string, std::string>> dump_index(store::Store& store);

// Records, at every commit of the store's writer connection, how many rows the store has
// changed in all so far: the differences are the batch sizes when each operation changes one
// row. `on_commit`, when set, also runs at every commit (on the committing thread); when
// `refuse`, set, returns true there, the store turns that commit into a rollback and the
// commit fails.
class CommitLog {
 public:
  void attach(store::Store& store);
  std::vector<int> batch_sizes();
  std::function<void()> on_commit;
  std::function<bool()> refuse;

 private:
  static int hook(void* self);
  std::mutex mutex_;
  std::vector<int> totals_;
  sqlite3* db_ = nullptr;
};

}  // namespace quorvane::testing
