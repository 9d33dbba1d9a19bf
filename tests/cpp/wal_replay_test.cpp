#include "db_engine_web_server/wal_replay.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>

#include "store/testing.h"
#include "test_support.h"

namespace quorvane::db_engine_web_server {
namespace {

std::string insert_frame(const std::string& id, const std::string& doc) {
  std::string frame("\x01", 1);
  for (uint32_t n : {static_cast<uint32_t>(id.size()), static_cast<uint32_t>(doc.size())}) {
    for (int i = 0; i < 4; ++i) frame += static_cast<char>((n >> (8 * i)) & 0xFF);
  }
  return frame + id + doc;
}

TEST(WalReplay, AnInsertTheStoreRefusesIsReportedAndSkipped) {
  testing::TempDir dir;
  std::shared_ptr<store::Store> db = store::Store::open(dir.file("db")).value();
  ASSERT_TRUE(db->ensure_tables());
  // The store refuses anything longer than 100 bytes from now on.
  sqlite3_limit(store::test_access::writer_connection(*db).get(), SQLITE_LIMIT_LENGTH, 100);
  const std::string wal = dir.file("db.wal");
  {
    std::ofstream out(wal, std::ios::binary);
    out << insert_frame("big", "[" + std::string(200, '1') + "]")
        << insert_frame("ok", R"({"v":"x"})");
  }
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(recover_wal_on_startup(*db, wal));
  const std::string printed = ::testing::internal::GetCapturedStdout();

  const std::string refused = "Failed to insert id big. Skipping. Error ";
  ASSERT_EQ(printed.compare(0, refused.size(), refused), 0) << printed;
  const std::string success = "\nWAL Recover: Successfully written all records to database!\n";
  ASSERT_GT(printed.size(), refused.size() + success.size());  // the store's message is there
  EXPECT_EQ(printed.substr(printed.size() - success.size()), success);
  EXPECT_EQ(printed.find('\n'), printed.size() - success.size());  // two lines in all

  EXPECT_EQ(testing::dump_documents(*db),
            (std::map<std::string, std::string>{{"ok", R"({"v":"x"})"}}));
  EXPECT_EQ(testing::dump_index(*db),
            (std::set<std::pair<std::string, std::string>>{{"v.x", "ok"}}));
}

}  // namespace
}  // namespace quorvane::db_engine_web_server
