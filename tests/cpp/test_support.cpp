#include "test_support.h"

#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "store/testing.h"

namespace quorvane::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ScopedTimeZone::ScopedTimeZone(const char* zone) {
  if (const char* before = getenv("TZ")) {
    had_zone_ = true;
    previous_ = before;
  }
  setenv("TZ", zone, 1);
  tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  if (had_zone_) {
    setenv("TZ", previous_.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return condition();
}

}  // namespace quorvane::testing

namespace quorvane::testing {

using store::test_access::for_each_row;

std::map<std::string, std::string> dump_documents(store::Store& store) {
  std::map<std::string, std::string> out;
  for_each_row(store, "SELECT id, doc FROM documents", [&](store::Statement& s) {
    out.emplace(std::string(s.column_text(0)), std::string(s.column_blob(1)));
  });
  return out;
}

std::set<std::pair<std::string, std::string>> dump_index(store::Store& store) {
  std::set<std::pair<std::string, std::string>> out;
  for_each_row(store, "SELECT key, id FROM metadata_index", [&](store::Statement& s) {
    out.emplace(std::string(s.column_text(0)), std::string(s.column_text(1)));
  });
  return out;
}

}  // namespace quorvane::testing

namespace quorvane::testing {

void CommitLog::attach(store::Store& store) {
  db_ = store::test_access::writer_connection(store).get();
  sqlite3_commit_hook(db_, &CommitLog::hook, this);
}

int CommitLog::hook(void* self) {
  auto* log = static_cast<CommitLog*>(self);
  {
    std::lock_guard lock(log->mutex_);
    log->totals_.push_back(sqlite3_total_changes(log->db_));
  }
  if (log->on_commit) log->on_commit();
  return log->refuse && log->refuse() ? 1 : 0;
}

std::vector<int> CommitLog::batch_sizes() {
  std::lock_guard lock(mutex_);
  std::vector<int> sizes;
  int before = 0;
  for (int t : totals_) {
    if (t != before) sizes.push_back(t - before);
    before = t;
  }
  return sizes;
}

}  // namespace quorvane::testing
