#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "db_engine_web_server/backup/backup_worker.h"
#include "store/apply_operation.h"
#include "store/backup_copy.h"
#include "store/sqlite_handle.h"
#include "store/write_batch.h"
#include "test_support.h"

namespace quorvane::db_engine_web_server::backup {
namespace {

using store::BackupOutcome;
using store::Store;
using testing::dump_documents;
using testing::dump_index;
using testing::TempDir;

std::shared_ptr<Store> open_store(const std::string& path) {
  auto opened = Store::open(path);
  if (!opened) ADD_FAILURE() << opened.error();
  EXPECT_TRUE(opened.value()->ensure_tables());
  return opened.value();
}

struct Op {
  store::OpKind kind;
  std::string id;
  std::string doc;
};

void apply(Store& s, const std::vector<Op>& ops) {
  store::OperationApplier applier;
  ASSERT_EQ(store::run_write_batch(s,
                                   [&](store::WriteTransaction& txn) {
                                     for (const Op& op : ops) {
                                       document::DocBytes doc = document::DocBytes::copy_of(op.doc);
                                       applier.apply(txn, op.kind, op.id, &doc);
                                     }
                                   }),
            store::BatchOutcome::Committed);
}

void add_stale_entry(Store& s, const std::string& key, const std::string& id) {
  ASSERT_EQ(
      store::run_write_batch(
          s, [&](store::WriteTransaction& txn) { ASSERT_TRUE(txn.add_index_entry(key, id)); }),
      store::BatchOutcome::Committed);
}

TEST(BackupCopy, AnEmptyStoreGivesATargetWithBothTables) {
  TempDir dir;
  auto live = open_store(dir.file("live.db"));
  const store::BackupResult result = store::back_up_store(*live, dir.file("backup.db"));
  EXPECT_EQ(result.outcome, BackupOutcome::Committed) << result.error;
  auto target = Store::open(dir.file("backup.db"));
  ASSERT_TRUE(target);
  // Both reads fail (throw) when a table is missing.
  EXPECT_TRUE(dump_documents(*target.value()).empty());
  EXPECT_TRUE(dump_index(*target.value()).empty());
}

TEST(BackupCopy, CopiesTheSnapshotAndMergesIntoAnExistingTarget) {
  TempDir dir;
  auto live = open_store(dir.file("live.db"));
  const std::string target_path = dir.file("backup.db");
  apply(*live,
        {{store::OpKind::Insert, "a", R"({"n":1,"tag":"x"})"},
         {store::OpKind::Insert, "b", R"({"n":2})"},
         {store::OpKind::Insert, std::string("z\0id", 4), R"({"deep":{"list":[1,"two"]}})"}});
  add_stale_entry(*live, "stale.key", "ghost");
  const auto first_documents = dump_documents(*live);
  auto first_index = dump_index(*live);

  ASSERT_EQ(store::back_up_store(*live, target_path).outcome, BackupOutcome::Committed);
  {
    auto target = Store::open(target_path);
    ASSERT_TRUE(target);
    EXPECT_EQ(dump_documents(*target.value()), first_documents);
    EXPECT_EQ(dump_index(*target.value()), first_index);
  }

  apply(*live, {{store::OpKind::Delete, "b", ""}, {store::OpKind::Upsert, "a", R"({"n":3})"}});
  ASSERT_EQ(store::back_up_store(*live, target_path).outcome, BackupOutcome::Committed);

  auto expected_documents = dump_documents(*live);
  expected_documents.emplace("b", first_documents.at("b"));  // deleted since: kept
  auto expected_index = first_index;                         // entries the snapshot lacks stay
  for (const auto& entry : dump_index(*live)) expected_index.insert(entry);
  auto target = Store::open(target_path);
  ASSERT_TRUE(target);
  EXPECT_EQ(dump_documents(*target.value()), expected_documents);
  EXPECT_EQ(dump_index(*target.value()), expected_index);
  EXPECT_EQ(dump_documents(*target.value()).at("a"), R"({"n":3})");
}

TEST(BackupCopy, TheLiveDatabaseItselfIsRefusedAndKeepsItsLock) {
  TempDir dir;
  auto live = open_store(dir.file("live.db"));
  apply(*live, {{store::OpKind::Insert, "a", R"({"n":1})"}});
  const auto documents = dump_documents(*live);
  const auto index = dump_index(*live);

  const store::BackupResult result = store::back_up_store(*live, dir.file("live.db"));
  EXPECT_EQ(result.outcome, BackupOutcome::TargetNotOpened);
  EXPECT_EQ(result.error, "Database already open. Cannot acquire lock.");
  EXPECT_EQ(dump_documents(*live), documents);
  EXPECT_EQ(dump_index(*live), index);

  // The file lock survives: another process still cannot open the store.
  const pid_t child = fork();
  if (child == 0) {
    auto other = Store::open(dir.file("live.db"));
    _exit(!other && other.error() == store::kAlreadyOpenText ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Makes `path` an SQLite database whose "documents" table has another shape.
void make_foreign_database(const std::string& path) {
  std::ofstream(path).flush();
  auto connection = store::Connection::open(path);
  ASSERT_TRUE(connection);
  ASSERT_TRUE(connection->exec("CREATE TABLE documents(x)"));
}

// Sends standard output and standard error to files while it lives.
class CapturedOutput {
 public:
  explicit CapturedOutput(const TempDir& dir)
      : out_path_(dir.file("captured.out")), err_path_(dir.file("captured.err")) {
    std::fflush(stdout);
    std::fflush(stderr);
    saved_out_ = dup(STDOUT_FILENO);
    saved_err_ = dup(STDERR_FILENO);
    redirect(out_path_, STDOUT_FILENO);
    redirect(err_path_, STDERR_FILENO);
  }
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;
  ~CapturedOutput() { restore(); }

  // Ends the capture and gives back what was written.
  std::pair<std::string, std::string> take() {
    restore();
    return {testing::read_file(out_path_), testing::read_file(err_path_)};
  }

 private:
  static void redirect(const std::string& path, int fd) {
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    dup2(file, fd);
    close(file);
  }
  void restore() {
    if (saved_out_ < 0) return;
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(saved_out_, STDOUT_FILENO);
    dup2(saved_err_, STDERR_FILENO);
    close(saved_out_);
    close(saved_err_);
    saved_out_ = saved_err_ = -1;
  }

  std::string out_path_, err_path_;
  int saved_out_ = -1, saved_err_ = -1;
};

TEST(BackupWorker, PrintsItsLinesOnTheirStreams) {
  TempDir dir;
  auto live = open_store(dir.file("live.db"));
  apply(*live, {{store::OpKind::Insert, "a", R"({"n":1})"}});
  std::ofstream(dir.file("text.db")) << "not a database of the store, just some text\n";
  make_foreign_database(dir.file("foreign.db"));

  const std::string start = "Starting logical database backup in background...\n";
  struct Case {
    std::string target, out, err;
  };
  const Case cases[] = {
      {dir.file("backup.db"),
       start + "Database backup is successful to " + dir.file("backup.db") + "\n", ""},
      {dir.file("live.db"), start,
       "Failed to create backup database: Database already open. Cannot acquire lock.\n"},
      {dir.file("missing/backup.db"), start,
       "Failed to create backup database: No such file or directory\n"},
      {dir.file("text.db"), start, "Failed to create backup database: file is not a database\n"},
      {dir.file("foreign.db"), start,
       "Failed to commit backup database: table documents has no column named id\n"},
  };
  for (const Case& c : cases) {
    CapturedOutput captured(dir);
    backup_worker(c.target, live);
    const auto [out, err] = captured.take();
    EXPECT_EQ(out, c.out) << c.target;
    EXPECT_EQ(err, c.err) << c.target;
  }
  EXPECT_EQ(live.use_count(), 1);

  // The refused copy left nothing behind in the foreign database, not even the table it
  // lacked: that was made inside the copy's transaction, which was rolled back.
  auto foreign = store::Connection::open(dir.file("foreign.db"));
  ASSERT_TRUE(foreign);
  auto rows = store::Statement::prepare(
      foreign->get(), "SELECT count(*) FROM sqlite_master WHERE name = 'metadata_index'");
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->step(), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(rows->get(), 0), 0);
}

TEST(BackupWorker, RunsDetachedWithItsOwnShareOfTheStore) {
  TempDir dir;
  auto live = open_store(dir.file("live.db"));
  apply(*live, {{store::OpKind::Insert, "a", R"({"n":1})"}});
  {
    CapturedOutput captured(dir);
    ASSERT_TRUE(spawn_backup_worker(dir.file("backup.db"), live));
    // The worker releases its share once its backup database is closed, then prints its
    // last line.
    ASSERT_TRUE(testing::wait_until([&] {
      return live.use_count() == 1 &&
             testing::read_file(dir.file("captured.out")).find("successful") != std::string::npos;
    }));
    EXPECT_EQ(captured.take().first,
              "Starting logical database backup in background...\n"
              "Database backup is successful to " +
                  dir.file("backup.db") + "\n");
  }
  auto backup = Store::open(dir.file("backup.db"));
  ASSERT_TRUE(backup);
  EXPECT_EQ(dump_documents(*backup.value()), dump_documents(*live));
}

}  // namespace
}  // namespace quorvane::db_engine_web_server::backup
