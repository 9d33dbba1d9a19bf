#include "store/store.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <thread>
#include <tuple>

#include "store/apply_operation.h"
#include "store/testing.h"
#include "store/write_batch.h"
#include "store/write_transaction.h"
#include "test_support.h"

namespace quorvane::store {
namespace {

using testing::TempDir;

std::shared_ptr<Store> open_store(const std::string& path) {
  auto store = Store::open(path);
  EXPECT_TRUE(store) << (store ? "" : store.error());
  EXPECT_TRUE(store.value()->ensure_tables());
  return store.value();
}

TEST(Store, CreatesBothTablesAndReopens) {
  TempDir dir;
  const std::string path = dir.file("a.db");
  {
    auto store = open_store(path);
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_TRUE(testing::dump_documents(*store).empty());
    EXPECT_TRUE(testing::dump_index(*store).empty());
  }
  auto again = open_store(path);
  EXPECT_TRUE(testing::dump_documents(*again).empty());
}

TEST(Store, SecondOpenInThisProcessFailsAndLeavesTheFirstWorking) {
  TempDir dir;
  const std::string path = dir.file("a.db");
  auto first = open_store(path);
  auto second = Store::open(path);
  ASSERT_FALSE(second);
  EXPECT_EQ(second.error(), "Database already open. Cannot acquire lock.");
  // Through another name of the same file as well.
  std::filesystem::create_hard_link(path, dir.file("b.db"));
  auto third = Store::open(dir.file("b.db"));
  ASSERT_FALSE(third);
  EXPECT_EQ(third.error(), "Database already open. Cannot acquire lock.");

  OperationApplier applier;
  document::DocBytes doc = document::DocBytes::copy_of(R"({"n":1})");
  EXPECT_EQ(
      run_write_batch(
          *first, [&](WriteTransaction& txn) { applier.apply(txn, OpKind::Insert, "a", &doc); }),
      BatchOutcome::Committed);
  EXPECT_EQ(testing::dump_documents(*first).at("a"), R"({"n":1})");
  first.reset();
  EXPECT_TRUE(Store::open(path));
}

TEST(Store, SecondOpenFromAnotherProcessFails) {
  TempDir dir;
  const std::string path = dir.file("a.db");
  auto first = open_store(path);
  const pid_t child = fork();
  if (child == 0) {
    auto second = Store::open(path);
    _exit(!second && second.error() == kAlreadyOpenText ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(Store, OpenFailuresCarryTheSystemText) {
  TempDir dir;
  auto missing_dir = Store::open(dir.file("no/such/dir.db"));
  ASSERT_FALSE(missing_dir);
  EXPECT_EQ(missing_dir.error(), "No such file or directory");

  const std::string junk = dir.file("junk.db");
  FILE* f = fopen(junk.c_str(), "w");
  fputs("this is not a database file at all, just some text long enough to look wrong", f);
  fclose(f);
  auto store = Store::open(junk);
  ASSERT_FALSE(store && store.value()->ensure_tables());
}

TEST(Store, CreatedFileStaysWhenALaterStepFails) {
  TempDir dir;
  const std::string junk = dir.file("junk.db");
  FILE* f = fopen(junk.c_str(), "w");
  fputs("not a database, not at all, really not", f);
  fclose(f);
  { auto store = Store::open(junk); }
  EXPECT_TRUE(std::filesystem::exists(junk));
  // The lock was released with the failed store.
  auto again = Store::open(junk);
  if (!again) {
    EXPECT_NE(again.error(), kAlreadyOpenText);
  }
}

TEST(Store, IdsAndKeysKeepEmbeddedNulAndOrderByBytes) {
  TempDir dir;
  auto store = open_store(dir.file("a.db"));
  OperationApplier applier;
  const std::string ids[] = {std::string("a\0b", 3), "B", "a", "\xc3\xa9", ""};
  (void)run_write_batch(*store, [&](WriteTransaction& txn) {
    for (const std::string& id : ids) {
      document::DocBytes doc = document::DocBytes::copy_of(R"({"k":"v"})");
      applier.apply(txn, OpKind::Insert, id, &doc);
    }
  });
  auto docs = testing::dump_documents(*store);
  ASSERT_EQ(docs.size(), 5u);
  EXPECT_TRUE(docs.count(std::string("a\0b", 3)));
  EXPECT_EQ(testing::dump_index(*store).size(), 5u);
}

// The decided upkeep: an insert over a stored id removes the replaced version's entries.
TEST(ApplyOperation, InsertUpsertDeleteKeepTheIndexExact) {
  TempDir dir;
  auto store = open_store(dir.file("a.db"));
  OperationApplier applier;
  auto apply = [&](OpKind kind, const std::string& id, const char* json) {
    document::DocBytes doc = document::DocBytes::copy_of(json ? json : "");
    ASSERT_EQ(run_write_batch(*store,
                              [&](WriteTransaction& txn) {
                                applier.apply(txn, kind, id, json ? &doc : nullptr);
                              }),
              BatchOutcome::Committed);
  };
  using Index = std::set<std::pair<std::string, std::string>>;

  apply(OpKind::Insert, "u1", R"({"n":1})");
  apply(OpKind::Insert, "u1", R"({"n":2})");
  EXPECT_EQ(testing::dump_index(*store), (Index{{"n.2", "u1"}}));
  apply(OpKind::Upsert, "u1", R"({"n":3})");
  EXPECT_EQ(testing::dump_index(*store), (Index{{"n.3", "u1"}}));
  EXPECT_EQ(testing::dump_documents(*store).at("u1"), R"({"n":3})");
  apply(OpKind::Upsert, "u2", R"({"n":3,"m":[true]})");
  EXPECT_EQ(testing::dump_index(*store), (Index{{"n.3", "u1"}, {"n.3", "u2"}, {"m.0.true", "u2"}}));
  apply(OpKind::Delete, "u1", nullptr);
  EXPECT_EQ(testing::dump_index(*store), (Index{{"n.3", "u2"}, {"m.0.true", "u2"}}));
  apply(OpKind::Delete, "never", nullptr);
  apply(OpKind::Delete, "u2", nullptr);
  EXPECT_TRUE(testing::dump_index(*store).empty());
  EXPECT_TRUE(testing::dump_documents(*store).empty());

  // A stored document that does not parse gets no entries and removes none.
  apply(OpKind::Insert, "x", R"({"a":1})");
  apply(OpKind::Insert, "x", "[1,");
  EXPECT_TRUE(testing::dump_index(*store).empty());
  EXPECT_EQ(testing::dump_documents(*store).at("x"), "[1,");
  apply(OpKind::Insert, "x", R"({"b":1})");
  EXPECT_EQ(testing::dump_index(*store), (Index{{"b.1", "x"}}));
}

// A batch is committed whole or not at all: a record beyond what the store holds is refused
// on its own, while a failure of the store part way (here the file may grow no further: a
// full disk) fails the batch, which is then rolled back with the store's message.
TEST(WriteBatch, CommitsEveryOperationButRefusedRecordsOrNone) {
  TempDir dir;
  auto store = open_store(dir.file("a.db"));
  Connection& writer = test_access::writer_connection(*store);
  OperationApplier applier;
  auto run_batch = [&](const std::vector<std::pair<std::string, std::string>>& inserts,
                       std::string* error) {
    std::vector<document::DocBytes> docs;
    for (const auto& insert : inserts) docs.push_back(document::DocBytes::copy_of(insert.second));
    return run_write_batch(
        *store,
        [&](WriteTransaction& txn) {
          for (size_t i = 0; i < inserts.size() && !txn.failed(); ++i) {
            (void)applier.apply(txn, OpKind::Insert, inserts[i].first, &docs[i]);
          }
        },
        error);
  };
  const std::string small = R"({"k":"v"})";
  const std::string large = R"({"k":")" + std::string(200000, 'x') + R"("})";
  std::string error;
  ASSERT_EQ(run_batch({{"before", small}}, &error), BatchOutcome::Committed);

  const int length_limit = sqlite3_limit(writer.get(), SQLITE_LIMIT_LENGTH, 100000);
  EXPECT_EQ(run_batch({{"a", small}, {"refused", large}, {"b", small}}, &error),
            BatchOutcome::Committed);
  (void)sqlite3_limit(writer.get(), SQLITE_LIMIT_LENGTH, length_limit);
  auto docs = testing::dump_documents(*store);
  EXPECT_TRUE(docs.count("a") && docs.count("b") && !docs.count("refused"));

  ASSERT_TRUE(writer.exec("PRAGMA max_page_count=1"));  // no more than the file has
  EXPECT_EQ(run_batch({{"c", small}, {"full", large}, {"d", small}}, &error),
            BatchOutcome::CommitFailed);
  EXPECT_EQ(error, "database or disk is full");
  ASSERT_TRUE(writer.exec("PRAGMA max_page_count=1073741823"));
  docs = testing::dump_documents(*store);
  EXPECT_EQ(docs.size(), 3u);
  EXPECT_FALSE(docs.count("c") || docs.count("full") || docs.count("d"));
  EXPECT_TRUE(testing::dump_index(*store).count({"k.v", "a"}));
  EXPECT_FALSE(testing::dump_index(*store).count({"k.v", "c"}));

  // The store takes the next batch as before.
  ASSERT_EQ(run_batch({{"c", small}, {"full", large}}, &error), BatchOutcome::Committed);
  EXPECT_EQ(testing::dump_documents(*store).size(), 5u);
}

// A batch writes its index changes at the end, net per (key, id) pair and in key order; the
// tables must end exactly as when each operation is committed on its own. The operations mix
// inserts, upserts and deletes over a few ids and overlapping keys, ids out of order, shared
// keys within one document, and documents that do not parse.
// With `early_write_out`, the staged changes are written out every few changes, in the middle
// of operations, as a huge batch or document has them written.
class OneBatchAsOneByOne : public ::testing::TestWithParam<bool> {};

TEST_P(OneBatchAsOneByOne, TablesEndAlike) {
  TempDir dir;
  auto batched = open_store(dir.file("batched.db"));
  auto single = open_store(dir.file("single.db"));
  if (GetParam()) {
    test_access::set_staged_index_limits(*batched, 8, 2);
  }
  OperationApplier batched_applier;
  OperationApplier single_applier;
  const char* docs[] = {R"({"n":1,"t":["a","b"]})",
                        R"({"n":2,"t":["b"]})",
                        R"({"n":1,"m":{"x":1}})",
                        R"({"m":{"x":1},"m.x":1})",
                        R"({"t":["a","a"]})",
                        "[1,",
                        R"({"n":1})",
                        R"([])"};
  const std::string ids[] = {"z", "a", "m", std::string("a\0", 2)};
  std::mt19937 rng(12345);
  for (int round = 0; round < 40; ++round) {
    std::vector<std::tuple<OpKind, std::string, std::string>> ops;
    const int count = 1 + static_cast<int>(rng() % 30);
    for (int i = 0; i < count; ++i) {
      const auto kind = static_cast<OpKind>(rng() % 3);
      ops.emplace_back(kind, ids[rng() % std::size(ids)],
                       kind == OpKind::Delete ? "" : docs[rng() % std::size(docs)]);
    }
    ASSERT_EQ(run_write_batch(*batched,
                              [&](WriteTransaction& txn) {
                                for (auto& [kind, id, json] : ops) {
                                  document::DocBytes doc = document::DocBytes::copy_of(json);
                                  batched_applier.apply(txn, kind, id,
                                                        kind == OpKind::Delete ? nullptr : &doc);
                                }
                              }),
              BatchOutcome::Committed);
    for (const auto& op : ops) {
      // Named copies rather than a structured binding, which the lambda below captures.
      const OpKind kind = std::get<0>(op);
      const std::string& id = std::get<1>(op);
      document::DocBytes doc = document::DocBytes::copy_of(std::get<2>(op));
      ASSERT_EQ(run_write_batch(*single,
                                [&](WriteTransaction& txn) {
                                  single_applier.apply(txn, kind, id,
                                                       kind == OpKind::Delete ? nullptr : &doc);
                                }),
                BatchOutcome::Committed);
    }
    ASSERT_EQ(testing::dump_index(*batched), testing::dump_index(*single)) << "round " << round;
    ASSERT_EQ(testing::dump_documents(*batched), testing::dump_documents(*single));
  }
  EXPECT_FALSE(testing::dump_index(*batched).empty());
}

INSTANTIATE_TEST_SUITE_P(ApplyOperation, OneBatchAsOneByOne, ::testing::Bool());

}  // namespace
}  // namespace quorvane::store
