#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <map>
#include <thread>

#include "store/reads.h"
#include "store/testing.h"
#include "store/write_transaction.h"
#include "test_support.h"

namespace quorvane::store {
namespace {

using testing::TempDir;
using Ids = std::vector<std::string>;

class StoreReads : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = Store::open(dir_.file("reads.db"));
    ASSERT_TRUE(opened) << opened.error();
    store_ = opened.value();
    ASSERT_TRUE(store_->ensure_tables());
  }

  // Stores {id: doc}, files (key, id) pairs and removes `gone`, in one commit.
  void write(const std::map<std::string, std::string>& docs,
             const std::vector<std::pair<std::string, std::string>>& index = {},
             const Ids& gone = {}) {
    auto txn = WriteTransaction::begin(*store_);
    ASSERT_TRUE(txn) << txn.error();
    ASSERT_TRUE(txn->open_tables());
    for (const auto& [id, doc] : docs) ASSERT_TRUE(txn->put_document(id, doc));
    for (const auto& [key, id] : index) ASSERT_TRUE(txn->add_index_entry(key, id));
    for (const std::string& id : gone) ASSERT_TRUE(txn->remove_document(id));
    ASSERT_TRUE(txn->commit());
  }

  static Ids ids_of(const std::vector<DocumentEntry>& entries) {
    Ids ids;
    for (const auto& entry : entries) ids.push_back(entry.first);
    return ids;
  }

  TempDir dir_;
  std::shared_ptr<Store> store_;
};

TEST_F(StoreReads, ReadDocumentCopiesTheStoredBytesOrGivesNothing) {
  const std::map<std::string, std::string> docs = {
      {"a", R"({"n":1})"}, {"", "{}"}, {std::string("a\0b", 3), "[1]"}, {"blank", ""}};
  write(docs);
  for (const auto& [id, doc] : docs) {
    auto found = read_document(*store_, id);
    ASSERT_TRUE(found) << found.error();
    ASSERT_TRUE(found->has_value()) << id;
    EXPECT_EQ((*found)->view(), doc);
    EXPECT_EQ((*found)->data()[doc.size()], '\0');  // padded for the parsers
  }
  for (const char* id : {"b", "A", "a\xff"}) {
    auto missing = read_document(*store_, id);
    ASSERT_TRUE(missing) << missing.error();
    EXPECT_FALSE(missing->has_value()) << id;
  }
}

TEST_F(StoreReads, ReadDocumentsKeepsTheOrderAndDuplicates) {
  write({{"a", "1"}, {"c", "3"}});
  auto found = read_documents(*store_, {"c", "b", "a", "c", "a"});
  ASSERT_TRUE(found) << found.error();
  const std::pair<const char*, const char*> expected[] = {
      {"c", "3"}, {"b", nullptr}, {"a", "1"}, {"c", "3"}, {"a", "1"}};
  ASSERT_EQ(found->size(), std::size(expected));
  for (size_t i = 0; i < found->size(); ++i) {
    const auto& [id, doc] = (*found)[i];
    EXPECT_EQ(id, expected[i].first);
    ASSERT_EQ(doc.has_value(), expected[i].second != nullptr) << i;
    if (doc) {
      EXPECT_EQ(doc->view(), expected[i].second);
    }
  }
  auto none = read_documents(*store_, {});
  ASSERT_TRUE(none) << none.error();
  EXPECT_TRUE(none->empty());
}

TEST_F(StoreReads, ReadPrefixTakesOneRunInByteOrder) {
  std::map<std::string, std::string> docs;
  for (const char* id : {"a", "a:1", "a:10", "a:2", "ab", "A", "B:1", "b"}) docs[id] = "{}";
  write(docs);
  const std::pair<const char*, Ids> cases[] = {
      {"a:", {"a:1", "a:10", "a:2"}},
      {"a", {"a", "a:1", "a:10", "a:2", "ab"}},
      {"", {"A", "B:1", "a", "a:1", "a:10", "a:2", "ab", "b"}},
      {"a:1", {"a:1", "a:10"}},
      {"A", {"A"}},
      {"zz", {}},
      {"a:3", {}},
  };
  for (const auto& [prefix, expected] : cases) {
    auto found = read_prefix(*store_, prefix);
    ASSERT_TRUE(found) << found.error();
    EXPECT_EQ(ids_of(*found), expected) << "prefix " << prefix;
  }
  auto found = read_prefix(*store_, "a:1");
  ASSERT_TRUE(found);
  EXPECT_EQ((*found)[0].second.view(), "{}");
}

TEST_F(StoreReads, MetadataMatchesSkipEntriesWithoutDocuments) {
  write({{"a", R"({"k":"x"})"}, {"b", "gone"}, {"c", R"({"k":"y"})"}, {"B", "{}"}},
        {{"k.x", "c"}, {"k.x", "a"}, {"k.x", "b"}, {"k.x", "B"}, {"k.x", "zz"}, {"k.y", "c"}},
        {"b"});
  auto found = read_metadata_matches(*store_, "k.x");
  ASSERT_TRUE(found) << found.error();
  EXPECT_EQ(ids_of(*found), (Ids{"B", "a", "c"}));
  // The index alone decides: c is returned with its current document.
  EXPECT_EQ(found->back().second.view(), R"({"k":"y"})");
  auto none = read_metadata_matches(*store_, "k.z");
  ASSERT_TRUE(none) << none.error();
  EXPECT_TRUE(none->empty());
}

TEST_F(StoreReads, MetadataPageIsAWindowOverIndexEntries) {
  write({{"a", "{}"}, {"b", "{}"}, {"c", "{}"}, {"d", "{}"}, {"other", "{}"}},
        {{"k.v", "a"}, {"k.v", "b"}, {"k.v", "c"}, {"k.v", "d"}, {"k.w", "other"}}, {"b"});
  constexpr uint64_t kHuge = std::numeric_limits<uint64_t>::max();
  struct Case {
    std::optional<uint64_t> limit, offset;
    Ids expected;
  };
  const Case cases[] = {
      {2, 0, {"a"}},  // b has no document but uses up its place
      {2, 2, {"c", "d"}},
      {std::nullopt, 1, {"c", "d"}},
      {1, 1, {}},
      {std::nullopt, std::nullopt, {"a", "c", "d"}},
      {0, 0, {}},
      {0, std::nullopt, {}},
      {kHuge, 0, {"a", "c", "d"}},
      {uint64_t{1} << 63, 3, {"d"}},
      {std::nullopt, 4, {}},
      {3, kHuge, {}},
  };
  for (const Case& c : cases) {
    auto found = read_metadata_page(*store_, "k.v", c.limit, c.offset);
    ASSERT_TRUE(found) << found.error();
    EXPECT_EQ(ids_of(*found), c.expected)
        << "limit " << (c.limit ? std::to_string(*c.limit) : "None") << " offset "
        << (c.offset ? std::to_string(*c.offset) : "None");
  }
  auto other = read_metadata_page(*store_, "k.w", std::nullopt, std::nullopt);
  ASSERT_TRUE(other) << other.error();
  EXPECT_EQ(ids_of(*other), (Ids{"other"}));
  auto unknown = read_metadata_page(*store_, "k.none", 5, 0);
  ASSERT_TRUE(unknown) << unknown.error();
  EXPECT_TRUE(unknown->empty());
}

TEST(StoreReadsErrors, StoreMessagesComeBackUnchanged) {
  TempDir dir;
  auto store = Store::open(dir.file("bare.db"));  // no tables
  ASSERT_TRUE(store) << store.error();
  Store& s = *store.value();
  const std::string documents = "no such table: documents";
  EXPECT_EQ(read_document(s, "a").error(), documents);
  EXPECT_EQ(read_documents(s, {}).error(), documents);
  EXPECT_EQ(read_documents(s, {"a", "b"}).error(), documents);
  EXPECT_EQ(read_prefix(s, "").error(), documents);
  EXPECT_EQ(read_metadata_matches(s, "k").error().rfind("no such table: ", 0), 0u);
  EXPECT_EQ(read_metadata_page(s, "k", 0, 0).error().rfind("no such table: ", 0), 0u);
  // Once the tables exist, the same (pooled) connections read normally.
  ASSERT_TRUE(s.ensure_tables());
  auto found = read_documents(s, {"a", "b"});
  ASSERT_TRUE(found) << found.error();
  EXPECT_EQ(found->size(), 2u);
}

// A writer keeps storing the same version under both ids while reads of both run: every read
// sees one version, so all its lookups read one snapshot.
TEST_F(StoreReads, ReadDocumentsReadsOneSnapshot) {
  write({{"a", "0"}, {"b", "0"}});
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int version = 1; version <= 150; ++version) {
      const std::string doc = std::to_string(version);
      write({{"a", doc}, {"b", doc}});
    }
    done = true;
  });
  Ids ids;
  for (int i = 0; i < 20; ++i) {
    ids.push_back("a");
    ids.push_back("b");
  }
  int reads = 0, mixed = 0;
  while (!done || reads == 0) {
    auto found = read_documents(*store_, ids);
    ASSERT_TRUE(found) << found.error();
    ++reads;
    for (const auto& entry : *found) {
      if (entry.second->view() != found->front().second->view()) ++mixed;
    }
  }
  writer.join();
  EXPECT_EQ(mixed, 0) << "over " << reads << " reads";
  auto last = read_document(*store_, "b");
  EXPECT_EQ((*last)->view(), "150");
}

// More reading threads than the store keeps leased connections for: the rest share spare
// connections. Every read sees a committed version no older than the one the thread saw
// before, and once the writer is done, every thread sees the last one.
TEST_F(StoreReads, ManyThreadsReadFreshVersionsThroughSlotsAndSpares) {
  write({{"k", "0"}});
  constexpr int kThreads = static_cast<int>(test_access::kReaderSlots) * 2 + 3;
  constexpr int kVersions = 100;
  std::atomic<bool> done{false};
  std::atomic<int> failures{0};
  std::vector<std::thread> readers;
  readers.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    readers.emplace_back([&] {
      int seen = 0;
      for (bool last_round = false; !last_round;) {
        last_round = done.load();
        auto found = read_document(*store_, "k");
        const int version =
            found && found->has_value() ? std::stoi(std::string((*found)->view())) : -1;
        if (version < seen || (last_round && version != kVersions)) ++failures;
        seen = version;
      }
    });
  }
  for (int version = 1; version <= kVersions; ++version) write({{"k", std::to_string(version)}});
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace quorvane::store
