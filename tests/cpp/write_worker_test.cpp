#include "db_engine/write_worker.h"

#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "store/testing.h"
#include "test_support.h"

namespace quorvane::db_engine {
namespace {

using testing::CommitLog;
using testing::TempDir;

struct Fixture {
  TempDir dir;
  std::shared_ptr<store::Store> db;
  CommitLog commits;
  channel::Endpoints<WriteOp> queue = channel::bounded<WriteOp>(kWriteQueueCapacity);
  std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>>(true);
  std::shared_ptr<lifecycle::CommitFailure> failure = std::make_shared<lifecycle::CommitFailure>();
  std::thread worker;

  Fixture() {
    db = store::Store::open(dir.file("w.db")).value();
    EXPECT_TRUE(db->ensure_tables());
    commits.attach(*db);
  }
  void start() {
    worker = std::thread(write_worker, std::move(queue.receiver), alive, db, failure);
  }
  void join() { worker.join(); }
  ~Fixture() {
    if (worker.joinable()) {
      queue.sender = channel::Sender<WriteOp>();
      worker.join();
    }
  }
};

// Documents without index keys, so that each insert changes exactly one row.
WriteOp plain_insert(const std::string& id) {
  return WriteOp::insert(id, document::DocBytes::copy_of("{}"));
}

TEST(WriteWorker, BatchesAreBoundedAt10000) {
  Fixture f;
  for (int i = 0; i < 10000; ++i) ASSERT_TRUE(f.queue.sender.send(plain_insert(std::to_string(i))));
  // The 10001st waits for room until the worker has taken the first operation.
  std::thread extra([s = f.queue.sender]() mutable { ASSERT_TRUE(s.send(plain_insert("last"))); });
  ASSERT_TRUE(testing::wait_until([&] { return f.queue.sender.len() == 10000; }));
  f.start();
  extra.join();
  ASSERT_TRUE(f.queue.sender.send(WriteOp::shutdown()));
  f.join();
  EXPECT_EQ(f.commits.batch_sizes(), (std::vector<int>{10000, 1}));
  EXPECT_EQ(testing::dump_documents(*f.db).size(), 10001u);
  EXPECT_FALSE(f.alive->load());
}

TEST(WriteWorker, ShutdownInTheMiddleOfABatchAppliesEverythingThenEnds) {
  Fixture f;
  ASSERT_TRUE(f.queue.sender.send(plain_insert("a")));
  ASSERT_TRUE(f.queue.sender.send(WriteOp::shutdown()));
  ASSERT_TRUE(f.queue.sender.send(plain_insert("b")));
  f.start();
  f.join();
  EXPECT_EQ(f.commits.batch_sizes(), (std::vector<int>{2}));
  auto docs = testing::dump_documents(*f.db);
  EXPECT_TRUE(docs.count("a") && docs.count("b"));
  EXPECT_FALSE(f.alive->load());
  // The worker released its end of the queue: later sends fail.
  EXPECT_FALSE(f.queue.sender.send(plain_insert("c")));
}

TEST(WriteWorker, ShutdownEndsTheWorkerWhenTheTransactionCannotBegin) {
  Fixture f;
  // An open transaction on the writer connection makes the worker's BEGIN fail.
  ASSERT_TRUE(store::test_access::writer_connection(*f.db).exec("BEGIN"));
  ASSERT_TRUE(f.queue.sender.send(plain_insert("a")));
  ASSERT_TRUE(f.queue.sender.send(WriteOp::shutdown()));
  f.start();
  f.join();
  EXPECT_FALSE(f.alive->load());
  ASSERT_TRUE(store::test_access::writer_connection(*f.db).exec("ROLLBACK"));
  EXPECT_TRUE(testing::dump_documents(*f.db).empty());
  EXPECT_EQ(f.failure->take(),
            std::optional<std::string>("cannot start a transaction within a transaction"));
}

TEST(WriteWorker, StopsAtTheFirstBatchItCannotCommit) {
  Fixture f;
  std::atomic<int> commits{0};
  f.commits.refuse = [&] { return ++commits > 1; };  // every commit after the first
  f.start();
  ASSERT_TRUE(f.queue.sender.send(plain_insert("first")));
  ASSERT_TRUE(testing::wait_until([&] { return testing::dump_documents(*f.db).count("first"); }));
  // The next batch is refused at its commit: the worker ends there, without a word, leaving
  // the store as it was and the store's message for close_engine.
  ASSERT_TRUE(f.queue.sender.send(plain_insert("second")));
  f.join();
  EXPECT_FALSE(f.alive->load());
  EXPECT_TRUE(f.failure->pending());
  EXPECT_EQ(f.failure->take(), std::optional<std::string>("constraint failed"));
  EXPECT_FALSE(f.failure->take());
  EXPECT_FALSE(f.queue.sender.send(plain_insert("third")));
  EXPECT_EQ(testing::dump_documents(*f.db).size(), 1u);
}

TEST(WriteWorker, ABatchOfShutdownAloneRecordsNoFailure) {
  Fixture f;
  ASSERT_TRUE(store::test_access::writer_connection(*f.db).exec("BEGIN"));
  ASSERT_TRUE(f.queue.sender.send(WriteOp::shutdown()));
  f.start();
  f.join();
  ASSERT_TRUE(store::test_access::writer_connection(*f.db).exec("ROLLBACK"));
  EXPECT_FALSE(f.alive->load());
  EXPECT_FALSE(f.failure->pending());
}

TEST(WriteWorker, DisconnectedQueueIsDrainedThenTheWorkerEndsAndReleasesTheStore) {
  Fixture f;
  f.start();
  for (int i = 0; i < 500; ++i) ASSERT_TRUE(f.queue.sender.send(plain_insert(std::to_string(i))));
  f.queue.sender = channel::Sender<WriteOp>();
  f.join();
  EXPECT_EQ(testing::dump_documents(*f.db).size(), 500u);
  EXPECT_FALSE(f.alive->load());
  EXPECT_EQ(f.db.use_count(), 1);
}

TEST(WriteWorker, AppliesOperationsInQueueOrder) {
  Fixture f;
  f.start();
  auto& tx = f.queue.sender;
  ASSERT_TRUE(tx.send(WriteOp::insert("k", document::DocBytes::copy_of(R"({"v":1})"))));
  ASSERT_TRUE(tx.send(WriteOp::insert("k", document::DocBytes::copy_of(R"({"v":2})"))));
  ASSERT_TRUE(tx.send(WriteOp::upsert("j", document::DocBytes::copy_of(R"({"v":3})"))));
  ASSERT_TRUE(tx.send(WriteOp::remove("j")));
  ASSERT_TRUE(tx.send(WriteOp::shutdown()));
  f.join();
  auto docs = testing::dump_documents(*f.db);
  EXPECT_EQ(docs, (std::map<std::string, std::string>{{"k", R"({"v":2})"}}));
  EXPECT_EQ(testing::dump_index(*f.db),
            (std::set<std::pair<std::string, std::string>>{{"v.2", "k"}}));
}

}  // namespace
}  // namespace quorvane::db_engine
