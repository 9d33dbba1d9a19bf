#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "db_engine_web_server/activity_log/activity_log_format.h"
#include "db_engine_web_server/activity_log/log_writer.h"
#include "db_engine_web_server/local_time.h"
#include "document/string_escape.h"
#include "test_support.h"
#include "util/buffered_writer.h"
#include "util/file.h"
#include "util/thread.h"

namespace quorvane::db_engine_web_server::activity_log {
namespace {

using testing::read_file;
using testing::TempDir;

std::tm local_fields(int year, int month, int day, int hour, int minute, int second, long offset) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_gmtoff = offset;
  return tm;
}

TEST(LogTimestamp, FractionDigitsAndOffsets) {
  struct Case {
    long nanoseconds;
    long offset;
    const char* expected;
  };
  const Case cases[] = {
      {589793238, 3600, "2025-03-14T09:26:53.589793238+01:00"},
      {589793000, 3600, "2025-03-14T09:26:53.589793+01:00"},
      {589000000, 3600, "2025-03-14T09:26:53.589+01:00"},
      {0, 3600, "2025-03-14T09:26:53+01:00"},
      {1, 0, "2025-03-14T09:26:53.000000001+00:00"},
      {1000, 0, "2025-03-14T09:26:53.000001+00:00"},
      {0, -(5 * 3600 + 30 * 60), "2025-03-14T09:26:53-05:30"},
      // An offset with a seconds part goes to the nearest minute.
      {0, 19 * 60 + 32, "2025-03-14T09:26:53+00:20"},
      {0, 3600 + 29, "2025-03-14T09:26:53+01:00"},
      {0, -(5 * 3600 + 30 * 60 + 45), "2025-03-14T09:26:53-05:31"},
      // The sign is the offset's own: a zone 20 seconds west of UTC is not UTC.
      {0, -20, "2025-03-14T09:26:53-00:00"},
      {0, 20, "2025-03-14T09:26:53+00:00"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(format_log_timestamp(local_fields(2025, 3, 14, 9, 26, 53, c.offset), c.nanoseconds),
              c.expected);
  }
  EXPECT_EQ(format_log_timestamp(local_fields(2016, 12, 31, 23, 59, 60, 0), 500000000),
            "2016-12-31T23:59:60.500+00:00");
}

TEST(LogTimestamp, ReadsTheZoneFromTz) {
  // 2025-03-14T08:26:53.589793238Z
  const timespec instant{1741940813, 589793238};
  {
    testing::ScopedTimeZone zone("Europe/Berlin");
    const LocalTime local = local_time_at(instant);
    EXPECT_EQ(format_log_timestamp(local.fields, local.nanoseconds),
              "2025-03-14T09:26:53.589793238+01:00");
  }
  {
    testing::ScopedTimeZone zone("UTC");
    const LocalTime local = local_time_at(instant);
    EXPECT_EQ(format_log_timestamp(local.fields, local.nanoseconds),
              "2025-03-14T08:26:53.589793238+00:00");
  }
  {
    testing::ScopedTimeZone zone("Asia/Kolkata");
    const LocalTime local = local_time_at(instant);
    EXPECT_EQ(format_log_timestamp(local.fields, local.nanoseconds),
              "2025-03-14T13:56:53.589793238+05:30");
  }
}

TEST(JsonEscape, EscapesOnlyQuotesBackslashesAndControls) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain id", "plain id"},
      {"a\"b", "a\\\"b"},
      {"a\\b", "a\\\\b"},
      {"line\nfeed", "line\\nfeed"},
      {"\b\t\f\r", "\\b\\t\\f\\r"},
      {std::string("\0\x01\x1b\x1f", 4), "\\u0000\\u0001\\u001b\\u001f"},
      {"/ \x7f", "/ \x7f"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
  };
  for (const auto& [text, expected] : cases) {
    std::string out = "x";
    document::append_json_string(out, text);
    EXPECT_EQ(out, "x\"" + expected + "\"");
  }
}

size_t file_size(const std::string& path) { return std::filesystem::file_size(path); }

// The activity log's file: appended to, behind a buffer of 8192 bytes.
std::optional<BufferedFileWriter> open_log(const std::string& path) {
  Result<UniqueFd> fd = open_file(path, O_WRONLY | O_APPEND | O_CREAT);
  if (!fd) return std::nullopt;
  return std::optional<BufferedFileWriter>(std::in_place, std::move(fd).value(), 8192);
}

TEST(ActivityLogFile, WritesOutOnlyWhenFullAndAtTheEnd) {
  TempDir dir;
  const std::string path = dir.file("log");
  const std::string hundred(100, 'a');
  {
    auto file = open_log(path);
    ASSERT_TRUE(file);
    for (int i = 0; i < 81; ++i) ASSERT_TRUE(file->write(hundred));
    EXPECT_EQ(file_size(path), 0u);                  // 8100 bytes gathered, none written
    ASSERT_TRUE(file->write(std::string(92, 'b')));  // fills the buffer exactly
    EXPECT_EQ(file_size(path), 0u);
    ASSERT_TRUE(file->write("c"));  // does not fit: the whole buffer goes first
    EXPECT_EQ(file_size(path), 8192u);
    // A piece of 8192 bytes or more: the buffer is written out, then the piece directly.
    ASSERT_TRUE(file->write(std::string(9000, 'd')));
    EXPECT_EQ(file_size(path), 8192u + 1 + 9000);
    ASSERT_TRUE(file->write("tail"));
    EXPECT_EQ(file_size(path), 8192u + 1 + 9000);
  }
  // Released: the rest is written out.
  EXPECT_EQ(read_file(path),
            std::string(8100, 'a') + std::string(92, 'b') + "c" + std::string(9000, 'd') + "tail");
}

TEST(ActivityLogFile, AppendsToAnExistingFileAndCreatesWithUmask) {
  TempDir dir;
  const std::string path = dir.file("log");
  const mode_t before = umask(027);
  {
    auto file = open_log(path);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->write("first\n"));
  }
  umask(before);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  {
    auto file = open_log(path);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->write("second\n"));
  }
  EXPECT_EQ(read_file(path), "first\nsecond\n");
  EXPECT_FALSE(open_log(dir.file("missing/log")));
}

struct RunningLogWriter {
  channel::Sender<LogOp> queue;
  std::shared_ptr<std::atomic<bool>> alive;
  JoinHandle handle;
};

RunningLogWriter start_log_writer(const std::string& path) {
  auto [sender, receiver] = channel::bounded<LogOp>(10000);
  auto alive = std::make_shared<std::atomic<bool>>(true);
  auto handle = spawn_thread([receiver = std::move(receiver), path, alive]() mutable {
    log_writer(std::move(receiver), path, alive);
  });
  EXPECT_TRUE(handle);
  return {std::move(sender), std::move(alive), std::move(handle).value()};
}

struct Line {
  std::string timestamp, action, id;
};

// Splits the file into lines and checks each one's exact shape; the id comes back escaped.
std::vector<Line> read_lines(const std::string& path) {
  static const std::regex shape(
      R"re(\{"timestamp": "(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(?:\.\d{3}|\.\d{6}|\.\d{9})?[+-]\d\d:\d\d)", )re"
      R"re("action": "([A-Z]+)", "id": "((?:[^"\\\x00-\x1f]|\\["\\bfnrt]|\\u00[01][0-9a-f])*)"\})re");
  std::vector<Line> lines;
  const std::string content = read_file(path);
  EXPECT_TRUE(content.empty() || content.back() == '\n');
  size_t start = 0;
  for (size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = content.substr(start, end - start);
    std::smatch m;
    EXPECT_TRUE(std::regex_match(line, m, shape)) << line;
    if (m.size() == 4) lines.push_back({m[1], m[2], m[3]});
  }
  return lines;
}

TEST(LogWriter, WritesOneLinePerIdWithOneTimestampPerEntry) {
  TempDir dir;
  const std::string path = dir.file("store.db.jsonl");
  RunningLogWriter writer = start_log_writer(path);
  writer.queue.send(LogOp::single(kInsertAction, "u1"));
  writer.queue.send(LogOp::batch(kInsertAction, {"b1", "b2", "b3"}));
  writer.queue.send(LogOp::batch(kInsertAction, {}));
  writer.queue.send(LogOp::single(kUpsertAction, "q\"b\\n\nc\x01\x1f"));
  writer.queue.send(LogOp::single(kDeleteAction, "caf\xc3\xa9"));
  writer.queue.send(LogOp::shutdown());
  writer.queue.send(LogOp::single(kInsertAction, "after shutdown"));
  EXPECT_TRUE(writer.handle.join());
  EXPECT_FALSE(writer.alive->load());

  const std::vector<Line> lines = read_lines(path);
  ASSERT_EQ(lines.size(), 6u);
  const std::pair<const char*, const char*> expected[] = {
      {"INSERT", "u1"},
      {"INSERT", "b1"},
      {"INSERT", "b2"},
      {"INSERT", "b3"},
      {"UPSERT", "q\\\"b\\\\n\\nc\\u0001\\u001f"},
      {"DELETE", "caf\xc3\xa9"},
  };
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].action, expected[i].first);
    EXPECT_EQ(lines[i].id, expected[i].second);
  }
  EXPECT_EQ(lines[1].timestamp, lines[2].timestamp);
  EXPECT_EQ(lines[2].timestamp, lines[3].timestamp);
}

TEST(LogWriter, WritesNothingBeforeTheBufferFillsAndEverythingAtTheEnd) {
  TempDir dir;
  const std::string path = dir.file("store.db.jsonl");
  RunningLogWriter writer = start_log_writer(path);
  const std::string id(50, 'x');  // a line of about 120 bytes
  int sent = 0;
  for (; sent < 20; ++sent) writer.queue.send(LogOp::single(kInsertAction, id));
  ASSERT_TRUE(testing::wait_until([&] { return writer.queue.len() == 0; }));
  EXPECT_EQ(file_size(path), 0u);

  for (; sent < 200; ++sent) writer.queue.send(LogOp::single(kInsertAction, id));
  // Full buffers have gone out; the last line is still held back until the end.
  ASSERT_TRUE(testing::wait_until([&] { return writer.queue.len() == 0 && file_size(path) > 0; }));
  const size_t before_the_end = file_size(path);

  // Releasing the last sender ends the writer once it has written what was queued.
  writer.queue = channel::Sender<LogOp>();
  EXPECT_TRUE(writer.handle.join());
  EXPECT_FALSE(writer.alive->load());
  EXPECT_LT(before_the_end, file_size(path));
  EXPECT_EQ(read_lines(path).size(), 200u);
}

TEST(LogWriter, ASecondRunAppends) {
  TempDir dir;
  const std::string path = dir.file("store.db.jsonl");
  for (const char* id : {"first", "second"}) {
    RunningLogWriter writer = start_log_writer(path);
    writer.queue.send(LogOp::single(kInsertAction, id));
    writer.queue.send(LogOp::shutdown());
    EXPECT_TRUE(writer.handle.join());
  }
  const std::vector<Line> lines = read_lines(path);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].id, "first");
  EXPECT_EQ(lines[1].id, "second");
}

TEST(LogWriter, EndsByAFaultWhenTheFileCannotBeOpenedOrWritten) {
  TempDir dir;
  for (const std::string& path : {dir.file("missing/store.db.jsonl"), std::string("/dev/full")}) {
    RunningLogWriter writer = start_log_writer(path);
    writer.queue.send(LogOp::single(kInsertAction, "u1"));
    writer.queue.send(LogOp::shutdown());
    EXPECT_FALSE(writer.handle.join()) << path;
    EXPECT_FALSE(writer.alive->load()) << path;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
}

}  // namespace
}  // namespace quorvane::db_engine_web_server::activity_log
