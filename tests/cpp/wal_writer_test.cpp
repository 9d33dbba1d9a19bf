#include "db_engine_web_server/wal_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "db_engine_web_server/database_writer.h"
#include "test_support.h"
#include "util/thread.h"

namespace quorvane::db_engine_web_server {
namespace {

using testing::TempDir;
using testing::wait_until;

std::string file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

uintmax_t file_size(const std::string& path) {
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  return ec ? static_cast<uintmax_t>(-1) : size;
}

std::string id5(int i) {
  char text[8];
  std::snprintf(text, sizeof text, "%05d", i);
  return text;
}

// An insert of "{}" under a five-digit id: a 16-byte frame.
WriteOp small_insert(int i) { return WriteOp::insert(id5(i), document::DocBytes::copy_of("{}")); }
constexpr size_t kSmallFrame = 16;

// The WAL writer alone, between two channels the test holds the other ends of.
struct WalWriterFixture {
  TempDir dir;
  std::string wal_path = dir.file("db.wal");
  channel::Endpoints<WriteOp> write = channel::bounded<WriteOp>(10000);
  channel::Endpoints<WriteOp> apply;
  std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>>(true);
  std::shared_ptr<std::atomic<size_t>> committed = std::make_shared<std::atomic<size_t>>(0);
  std::optional<JoinHandle> thread;

  explicit WalWriterFixture(size_t apply_capacity = 10000)
      : apply(channel::bounded<WriteOp>(apply_capacity)) {}
  void start() {
    thread = spawn_thread([tx = std::move(apply.sender), rx = std::move(write.receiver),
                           wal = open_wal_log(wal_path).value(), alive = alive,
                           committed = committed]() mutable {
               wal_writer(std::move(tx), std::move(rx), std::move(wal), alive, committed);
             }).value();
  }
  WriteOp forwarded() {
    std::optional<WriteOp> op = apply.receiver.recv();
    EXPECT_TRUE(op.has_value());
    return op ? std::move(*op) : WriteOp::shutdown();
  }
  ~WalWriterFixture() {
    write.sender = channel::Sender<WriteOp>();
    apply.receiver = channel::Receiver<WriteOp>();
    if (thread) (void)thread->join();
  }
};

TEST(WalWriter, BatchesHoldAtMost5000Operations) {
  // With room for one forwarded operation, the writer stops inside its first forward: by then
  // it has taken exactly one batch off the write queue and written out its frames.
  WalWriterFixture f(1);
  for (int i = 0; i < 10000; ++i) ASSERT_TRUE(f.write.sender.send(small_insert(i)));
  f.start();
  ASSERT_TRUE(wait_until(
      [&] { return file_size(f.wal_path) == 5000 * kSmallFrame && f.write.sender.len() == 5000; }));
  for (int i = 0; i < 10000; ++i) ASSERT_EQ(f.forwarded().id, id5(i));
  EXPECT_EQ(file_size(f.wal_path), 10000 * kSmallFrame);
  ASSERT_TRUE(f.write.sender.send(WriteOp::shutdown()));
  EXPECT_EQ(f.forwarded().kind, WriteOp::Kind::Shutdown);
  EXPECT_TRUE(f.thread->join());
  EXPECT_FALSE(f.alive->load());
}

TEST(WalWriter, FramesWritesOnlyAndForwardsEverythingInOrderUpToShutdown) {
  WalWriterFixture f;
  f.start();
  ASSERT_TRUE(f.write.sender.send(WriteOp::backup("b1")));
  WriteOp backup = f.forwarded();
  EXPECT_EQ(backup.kind, WriteOp::Kind::Backup);
  EXPECT_EQ(backup.id, "b1");
  EXPECT_EQ(file_size(f.wal_path), 0u);

  ASSERT_TRUE(
      f.write.sender.send(WriteOp::insert("a1", document::DocBytes::copy_of(R"({"x":1})"))));
  ASSERT_TRUE(f.write.sender.send(WriteOp::remove("a1")));
  ASSERT_TRUE(f.write.sender.send(WriteOp::shutdown()));
  (void)f.write.sender.send(WriteOp::insert("late", document::DocBytes::copy_of("{}")));
  EXPECT_EQ(f.forwarded().kind, WriteOp::Kind::Insert);
  EXPECT_EQ(f.forwarded().kind, WriteOp::Kind::Delete);
  EXPECT_EQ(f.forwarded().kind, WriteOp::Kind::Shutdown);
  EXPECT_TRUE(f.thread->join());
  EXPECT_FALSE(f.alive->load());
  EXPECT_EQ(file_bytes(f.wal_path), std::string("\x01\x02\0\0\0\x07\0\0\0a1{\"x\":1}"
                                                "\x02\x02\0\0\0\0\0\0\0a1",
                                                29));
  // Nothing follows the shutdown, and the write queue is closed.
  EXPECT_FALSE(f.apply.receiver.recv().has_value());
  EXPECT_FALSE(f.write.sender.send(WriteOp::shutdown()));
}

TEST(WalWriter, EmptiesTheLogOnlyOnceEverythingFramedIsCommitted) {
  WalWriterFixture f;
  f.start();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(f.write.sender.send(small_insert(i)));
  for (int i = 0; i < 3; ++i) (void)f.forwarded();
  f.committed->store(2);
  EXPECT_FALSE(
      wait_until([&] { return file_size(f.wal_path) == 0; }, std::chrono::milliseconds(100)));
  f.committed->store(3);
  ASSERT_TRUE(wait_until([&] { return file_size(f.wal_path) == 0 && f.committed->load() == 0; }));
  // Writing starts again at the start of the file.
  ASSERT_TRUE(f.write.sender.send(small_insert(7)));
  (void)f.forwarded();
  std::string expected = std::string("\x01\x05\0\0\0\x02\0\0\0", 9) + "00007{}";
  EXPECT_EQ(file_bytes(f.wal_path), expected);
}

// Both writer threads on a store, wired as an instance wires them.
struct PipelineFixture {
  TempDir dir;
  std::string wal_path;
  std::shared_ptr<store::Store> db;
  channel::Endpoints<WriteOp> write = channel::bounded<WriteOp>(10000);
  channel::Endpoints<WriteOp> apply = channel::bounded<WriteOp>(10000);
  channel::Sender<WriteOp> instance_apply_queue = apply.sender;
  std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>>(true);
  std::shared_ptr<std::atomic<size_t>> in_flight = std::make_shared<std::atomic<size_t>>(0);
  std::shared_ptr<std::atomic<size_t>> committed = std::make_shared<std::atomic<size_t>>(0);
  std::shared_ptr<std::atomic<bool>> database_writer_done =
      std::make_shared<std::atomic<bool>>(false);
  std::optional<JoinHandle> wal, database;
  testing::CommitLog commits;

  explicit PipelineFixture(const std::string& log_path = {}) {
    wal_path = log_path.empty() ? dir.file("db.wal") : log_path;
    db = store::Store::open(dir.file("db")).value();
    EXPECT_TRUE(db->ensure_tables());
    commits.attach(*db);
    wal = spawn_thread([tx = std::move(apply.sender), rx = std::move(write.receiver),
                        log = open_wal_log(wal_path).value(), alive = alive,
                        committed = committed]() mutable {
            wal_writer(std::move(tx), std::move(rx), std::move(log), alive, committed);
          }).value();
    database =
        spawn_thread([rx = std::move(apply.receiver), alive = alive, in_flight = in_flight, db = db,
                      committed = committed, done = database_writer_done]() mutable {
          database_writer(std::move(rx), alive, in_flight, db, committed,
                          std::make_shared<lifecycle::CommitFailure>());
          done->store(true);
        }).value();
  }
  ~PipelineFixture() {
    write.sender = channel::Sender<WriteOp>();
    instance_apply_queue = channel::Sender<WriteOp>();
    if (wal) (void)wal->join();
    if (database) (void)database->join();
  }
};

TEST(WalPipeline, TheLogIsEmptiedAfterABurstAndKeepsWhatCameAfter) {
  PipelineFixture f;
  for (int i = 0; i < 20000; ++i) {
    ASSERT_TRUE(f.write.sender.send(
        WriteOp::insert(id5(i), document::DocBytes::copy_of("{\"n\":" + std::to_string(i) + "}"))));
  }
  ASSERT_TRUE(wait_until([&] {
    return file_size(f.wal_path) == 0 && testing::dump_documents(*f.db).size() == 20000;
  }));
  EXPECT_EQ(f.committed->load(), 0u);

  // What is framed after the last emptying stays in the log through shutdown.
  ASSERT_TRUE(
      f.write.sender.send(WriteOp::upsert(id5(1), document::DocBytes::copy_of(R"({"n":-1})"))));
  ASSERT_TRUE(f.write.sender.send(WriteOp::shutdown()));
  EXPECT_TRUE(f.wal->join());
  EXPECT_TRUE(f.database->join());
  EXPECT_EQ(file_size(f.wal_path), 9 + 5 + 8u);
  EXPECT_EQ(f.in_flight->load(), 0u);
  EXPECT_EQ(f.committed->load(), 1u);
  EXPECT_EQ(testing::dump_documents(*f.db).at(id5(1)), R"({"n":-1})");
  EXPECT_EQ(testing::dump_index(*f.db).count({"n.1", id5(1)}), 0u);
  EXPECT_EQ(testing::dump_index(*f.db).count({"n.-1", id5(1)}), 1u);
}

TEST(WalPipeline, AnIoErrorOnTheLogEndsBothWritersThoughTheApplyQueueStaysConnected) {
  PipelineFixture f("/dev/full");
  (void)f.write.sender.send(small_insert(1));
  (void)f.write.sender.send(small_insert(2));
  EXPECT_FALSE(f.wal->join());  // ended by a fault
  ASSERT_TRUE(wait_until([&] { return f.database_writer_done->load(); }));
  EXPECT_FALSE(f.alive->load());
  EXPECT_TRUE(testing::dump_documents(*f.db).empty());
  EXPECT_FALSE(f.write.sender.send(small_insert(3)));
}

TEST(WalWriter, ALogThatCannotBeOpenedFailsBeforeAnyWriterStarts) {
  TempDir dir;
  Result<ClaimedLog> wal = open_wal_log(dir.path());
  ASSERT_FALSE(wal);
  EXPECT_EQ(wal.error(), "write-ahead log I/O error: Is a directory");
}

TEST(WalPipeline, WhenTheDatabaseWriterStopsEveryAcceptedWriteStaysInTheLog) {
  PipelineFixture f;
  f.commits.refuse = [] { return true; };  // as on a full disk
  size_t accepted = 0;
  for (int i = 0; i < 20000; ++i) {
    if (!f.write.sender.send(small_insert(i))) break;
    ++accepted;
  }
  // The database writer stops at its first batch; the WAL writer, whose next forward fails,
  // closes the write queue, frames what it holds and ends.
  EXPECT_TRUE(f.database->join());
  EXPECT_TRUE(f.wal->join());
  EXPECT_FALSE(f.alive->load());
  EXPECT_FALSE(f.write.sender.send(small_insert(-1)));
  EXPECT_GT(accepted, 0u);
  EXPECT_EQ(file_size(f.wal_path), accepted * kSmallFrame);
  EXPECT_EQ(f.committed->load(), 0u);
  EXPECT_TRUE(testing::dump_documents(*f.db).empty());
}

}  // namespace
}  // namespace quorvane::db_engine_web_server
