#include "db_engine_web_server/database_writer.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>
#include <vector>

#include "store/testing.h"
#include "test_support.h"
#include "util/thread.h"

namespace quorvane::db_engine_web_server {
namespace {

using testing::TempDir;

struct Fixture {
  TempDir dir;
  std::shared_ptr<store::Store> db;
  testing::CommitLog commits;
  channel::Endpoints<WriteOp> apply = channel::bounded<WriteOp>(10000);
  std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>>(true);
  std::shared_ptr<std::atomic<size_t>> in_flight = std::make_shared<std::atomic<size_t>>(0);
  std::shared_ptr<std::atomic<size_t>> committed = std::make_shared<std::atomic<size_t>>(0);
  std::shared_ptr<lifecycle::CommitFailure> failure = std::make_shared<lifecycle::CommitFailure>();
  std::optional<JoinHandle> thread;

  Fixture() {
    db = store::Store::open(dir.file("db")).value();
    EXPECT_TRUE(db->ensure_tables());
    commits.attach(*db);
  }
  void start() {
    thread = spawn_thread([rx = std::move(apply.receiver), alive = alive, in_flight = in_flight,
                           db = db, committed = committed, failure = failure]() mutable {
               database_writer(std::move(rx), alive, in_flight, db, committed, failure);
             }).value();
  }
  bool join() { return thread->join(); }
  ~Fixture() {
    apply.sender = channel::Sender<WriteOp>();
    if (thread) (void)thread->join();
  }
};

// An insert of "{}" (no index entries, so one changed row) whose id and document take
// `bytes` bytes together.
WriteOp sized_insert(size_t bytes, int i) {
  std::string id = std::to_string(i);
  id.resize(bytes - 2, 'x');
  return WriteOp::insert(std::move(id), document::DocBytes::copy_of("{}"));
}

TEST(DatabaseWriter, BatchesAreBoundedAt10000AndTheQueueIsDrainedOnDisconnection) {
  Fixture f;
  for (int i = 0; i < 10000; ++i) ASSERT_TRUE(f.apply.sender.send(sized_insert(10, i)));
  std::thread extra([s = f.apply.sender]() mutable { ASSERT_TRUE(s.send(sized_insert(10, -1))); });
  ASSERT_TRUE(testing::wait_until([&] { return f.apply.sender.len() == 10000; }));
  f.start();
  extra.join();
  f.apply.sender = channel::Sender<WriteOp>();
  EXPECT_TRUE(f.join());
  EXPECT_EQ(f.commits.batch_sizes(), (std::vector<int>{10000, 1}));
  EXPECT_EQ(f.committed->load(), 10001u);
  EXPECT_EQ(f.in_flight->load(), 0u);
  EXPECT_FALSE(f.alive->load());
  EXPECT_EQ(f.db.use_count(), 1);
}

TEST(DatabaseWriter, BatchesEndOnceTheirIdsAndDocumentsReach2MiB) {
  const size_t mib = size_t{1024} * 1024;
  const struct {
    std::vector<size_t> sizes;
    std::vector<int> batches;
  } cases[] = {
      {{mib, mib, mib, mib}, {2, 2}},
      {{mib - 1, mib - 1, mib - 1, mib - 1, mib - 1, mib - 1}, {3, 3}},
      {{3 * mib, 10, 10}, {1, 2}},
  };
  for (const auto& c : cases) {
    Fixture f;
    for (size_t i = 0; i < c.sizes.size(); ++i) {
      ASSERT_TRUE(f.apply.sender.send(sized_insert(c.sizes[i], static_cast<int>(i))));
    }
    // A backup weighs nothing, however long its path.
    ASSERT_TRUE(f.apply.sender.send(WriteOp::backup(std::string(3 * mib, 'p'))));
    ASSERT_TRUE(f.apply.sender.send(WriteOp::shutdown()));
    f.start();
    EXPECT_TRUE(f.join());
    std::vector<int> expected = c.batches;
    EXPECT_EQ(f.commits.batch_sizes(), expected);
    EXPECT_EQ(f.committed->load(), c.sizes.size());
  }
}

TEST(DatabaseWriter, CountersMoveAroundTheCommitAndShutdownEndsTheBatch) {
  Fixture f;
  std::vector<std::pair<size_t, size_t>> at_commit;  // (in_flight, committed_count)
  f.commits.on_commit = [&] { at_commit.emplace_back(f.in_flight->load(), f.committed->load()); };
  ASSERT_TRUE(f.apply.sender.send(WriteOp::insert("a", document::DocBytes::copy_of(R"({"k":1})"))));
  ASSERT_TRUE(f.apply.sender.send(WriteOp::remove("never-stored")));
  ASSERT_TRUE(f.apply.sender.send(WriteOp::backup(f.dir.file("backup"))));
  ASSERT_TRUE(f.apply.sender.send(WriteOp::shutdown()));
  ASSERT_TRUE(f.apply.sender.send(WriteOp::insert("b", document::DocBytes::copy_of(R"({"k":2})"))));
  f.start();
  EXPECT_TRUE(f.join());
  // One commit for all five, made while all five were in flight and none counted committed.
  EXPECT_EQ(at_commit, (std::vector<std::pair<size_t, size_t>>{{5, 0}}));
  EXPECT_EQ(f.committed->load(), 3u);  // insert, delete, insert
  EXPECT_EQ(f.in_flight->load(), 0u);
  EXPECT_FALSE(f.alive->load());
  EXPECT_EQ(testing::dump_documents(*f.db).size(), 2u);
  EXPECT_FALSE(f.apply.sender.send(WriteOp::shutdown()));
}

TEST(DatabaseWriter, AShutdownEndsTheWriterWhenTheTransactionCannotBegin) {
  Fixture f;
  // An open transaction on the writer connection makes the writer's BEGIN fail.
  ASSERT_TRUE(store::test_access::writer_connection(*f.db).exec("BEGIN"));
  ASSERT_TRUE(f.apply.sender.send(WriteOp::insert("a", document::DocBytes::copy_of("{}"))));
  ASSERT_TRUE(f.apply.sender.send(WriteOp::shutdown()));
  f.start();
  EXPECT_TRUE(f.join());
  ASSERT_TRUE(store::test_access::writer_connection(*f.db).exec("ROLLBACK"));
  EXPECT_FALSE(f.alive->load());
  EXPECT_EQ(f.committed->load(), 0u);  // the log is never emptied over an unapplied batch
  EXPECT_EQ(f.in_flight->load(), 0u);
  EXPECT_TRUE(testing::dump_documents(*f.db).empty());
}

TEST(DatabaseWriter, StopsAtABatchOfWritesItCannotCommit) {
  Fixture f;
  f.commits.refuse = [] { return true; };
  ASSERT_TRUE(f.apply.sender.send(WriteOp::insert("a", document::DocBytes::copy_of("{}"))));
  ASSERT_TRUE(f.apply.sender.send(WriteOp::insert("b", document::DocBytes::copy_of("{}"))));
  f.start();
  EXPECT_TRUE(f.join());  // no shutdown was sent: the failed commit ended it
  EXPECT_FALSE(f.alive->load());
  EXPECT_EQ(f.failure->take(), std::optional<std::string>("constraint failed"));
  EXPECT_EQ(f.committed->load(), 0u);  // the log is never emptied over it
  EXPECT_EQ(f.in_flight->load(), 0u);
  EXPECT_FALSE(f.apply.sender.send(WriteOp::shutdown()));
  EXPECT_TRUE(testing::dump_documents(*f.db).empty());
}

}  // namespace
}  // namespace quorvane::db_engine_web_server
