// The logs refuse a file that turns out to be a database, or held, when they are opened for
// writing: the check made at construction can be overtaken by a file put in place before the
// log is opened, which Python cannot time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <tuple>

#include "db_engine_web_server/activity_log/log_writer.h"
#include "db_engine_web_server/wal_writer.h"
#include "store/apply_operation.h"
#include "store/store.h"
#include "store/write_batch.h"
#include "test_support.h"
#include "util/file.h"
#include "util/thread.h"

namespace quorvane::db_engine_web_server {
namespace {

using testing::read_file;
using testing::TempDir;

enum class Target { StoreOpenHere, DatabaseNotOpen, LockedElsewhere };
enum class Writer { WriteAhead, Activity };

// Runs the writer on `path` with one write and then its shutdown; true when it ended cleanly.
// The write-ahead log is opened before its writer starts: refused there, no writer runs.
bool run_writer(Writer writer, const std::string& path,
                const std::shared_ptr<std::atomic<bool>>& alive) {
  std::optional<JoinHandle> thread;
  if (writer == Writer::WriteAhead) {
    Result<ClaimedLog> wal = open_wal_log(path);
    if (!wal) {
      EXPECT_EQ(wal.error().rfind("Refusing to use " + path + " as the write-ahead log: ", 0), 0u)
          << wal.error();
      return false;
    }
    auto write = channel::bounded<WriteOp>(16);
    auto apply = channel::bounded<WriteOp>(16);
    thread = spawn_thread([tx = std::move(apply.sender), rx = std::move(write.receiver),
                           wal = std::move(wal).value(), alive]() mutable {
               wal_writer(std::move(tx), std::move(rx), std::move(wal), alive,
                          std::make_shared<std::atomic<size_t>>(0));
             }).value();
    (void)write.sender.send(WriteOp::insert("a", document::DocBytes::copy_of("{}")));
    (void)write.sender.send(WriteOp::shutdown());
    return thread->join();
  }
  auto log = channel::bounded<activity_log::LogOp>(16);
  thread = spawn_thread([rx = std::move(log.receiver), path, alive]() mutable {
             activity_log::log_writer(std::move(rx), path, alive);
           }).value();
  (void)log.sender.send(activity_log::LogOp::single(activity_log::kInsertAction, "a"));
  (void)log.sender.send(activity_log::LogOp::shutdown());
  return thread->join();
}

class LogWriterAtOpen : public ::testing::TestWithParam<std::tuple<Target, Writer>> {};

std::string case_name(const ::testing::TestParamInfo<LogWriterAtOpen::ParamType>& info) {
  static const char* const kTargets[] = {"StoreOpenHere", "DatabaseNotOpen", "LockedElsewhere"};
  static const char* const kWriters[] = {"WalWriter", "LogWriter"};
  return std::string(kTargets[static_cast<int>(std::get<0>(info.param))]) + "_" +
         kWriters[static_cast<int>(std::get<1>(info.param))];
}

TEST_P(LogWriterAtOpen, RefusesTheFileAndLeavesItAsItWas) {
  const auto [target, writer] = GetParam();
  TempDir dir;
  const std::string path = dir.file("log");
  std::shared_ptr<store::Store> store;
  UniqueFd other_holder;
  if (target == Target::LockedElsewhere) {
    other_holder = open_file(path, O_RDWR | O_CREAT).value();
    ASSERT_TRUE(write_all(other_holder.get(), "another program's file\n"));
    ASSERT_EQ(::flock(other_holder.get(), LOCK_EX | LOCK_NB), 0);
  } else {
    store = store::Store::open(path).value();
    ASSERT_TRUE(store->ensure_tables());
    store::OperationApplier applier;
    document::DocBytes doc = document::DocBytes::copy_of(R"({"n":1})");
    ASSERT_EQ(store::run_write_batch(*store,
                                     [&](store::WriteTransaction& txn) {
                                       applier.apply(txn, store::OpKind::Insert, "kept", &doc);
                                     }),
              store::BatchOutcome::Committed);
    if (target == Target::DatabaseNotOpen) store.reset();
  }
  const std::string before = read_file(path);
  ASSERT_FALSE(before.empty());

  auto alive = std::make_shared<std::atomic<bool>>(true);
  // The activity log's writer ends by a fault, as when it cannot open its log.
  EXPECT_FALSE(run_writer(writer, path, alive));
  EXPECT_EQ(alive->load(), writer == Writer::WriteAhead);
  EXPECT_EQ(read_file(path), before);
  if (store) {
    EXPECT_EQ(testing::dump_documents(*store).at("kept"), R"({"n":1})");
    store.reset();
  }
  if (target != Target::LockedElsewhere) {
    store = store::Store::open(path).value();
    EXPECT_EQ(testing::dump_documents(*store).at("kept"), R"({"n":1})");
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllTargets, LogWriterAtOpen,
    ::testing::Combine(::testing::Values(Target::StoreOpenHere, Target::DatabaseNotOpen,
                                         Target::LockedElsewhere),
                       ::testing::Values(Writer::WriteAhead, Writer::Activity)),
    case_name);

}  // namespace
}  // namespace quorvane::db_engine_web_server
