// Replay over damaged write-ahead logs: cut at every byte, random bytes, lengths that claim
// up to 4 GiB, unknown op bytes. Each replay runs into a fresh store and is checked against a
// plain reading of the same bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <random>
#include <sstream>

#include "db_engine_web_server/wal_frame_reader.h"
#include "db_engine_web_server/wal_replay.h"
#include "largest_allocation.h"
#include "test_support.h"
#include "wal_reference.h"

namespace quorvane::db_engine_web_server {
namespace {

using testing::expected_replay_lines;
using testing::expected_store;
using testing::read_reference_log;
using testing::wal_frame_bytes;
using testing::wal_header_bytes;

const std::string kSuccess = "WAL Recover: Successfully written all records to database!";
const std::string kIncomplete =
    "WAL Recovery: Found incomplete frame at EOF. Discarding partial write";
const std::string kMissing = "WAL Recovery: Missing data for frame, discarding write!";

struct Replayed {
  bool ok = false;
  std::vector<std::string> lines;
  testing::ReferenceStore stored;
  off_t log_size_after = -1;
  size_t largest_allocation = 0;
};

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Replays `log` into a fresh store and reports what it printed and left.
Replayed replay(const std::string& log) {
  testing::TempDir dir;
  std::shared_ptr<store::Store> db = store::Store::open(dir.file("db")).value();
  EXPECT_TRUE(db->ensure_tables());
  const std::string wal = dir.file("db.wal");
  std::ofstream(wal, std::ios::binary) << log;

  Replayed out;
  ::testing::internal::CaptureStdout();
  {
    testing::LargestAllocationScope allocations;
    out.ok = static_cast<bool>(recover_wal_on_startup(*db, wal));
    out.largest_allocation = allocations.largest();
  }
  out.lines = split_lines(::testing::internal::GetCapturedStdout());
  out.stored = {testing::dump_documents(*db), testing::dump_index(*db)};
  struct stat st {};
  if (::stat(wal.c_str(), &st) == 0) out.log_size_after = st.st_size;
  return out;
}

void expect_replayed_as_read(const std::string& log, const std::string& label) {
  SCOPED_TRACE(label);
  const testing::ReferenceLog reference = read_reference_log(log);
  const Replayed got = replay(log);
  ASSERT_TRUE(got.ok);
  EXPECT_EQ(got.lines, expected_replay_lines(reference));
  const testing::ReferenceStore expected = expected_store(reference);
  EXPECT_EQ(got.stored.documents, expected.documents);
  EXPECT_EQ(got.stored.index, expected.index);
  EXPECT_EQ(got.log_size_after, 0);
}

TEST(DamagedWal, EveryCutOfAValidLogAppliesExactlyTheFramesBeforeIt) {
  const std::vector<std::string> frames = {
      wal_frame_bytes(kWalInsert, "ab", R"({"n":1,"tags":["x","y"]})"),
      wal_frame_bytes(kWalInsert, "cd", R"({"n":2})"),
      wal_frame_bytes(kWalUpsert, "ab", R"({"n":3})"),
      wal_frame_bytes(kWalDelete, "cd", ""),
      wal_frame_bytes(kWalInsert, "e\xff", R"([true,null,1.5])"),
  };
  std::string log;
  std::vector<size_t> ends;  // where each frame ends
  ends.reserve(frames.size());
  for (const std::string& f : frames) ends.push_back((log += f).size());

  for (size_t cut = 0; cut <= log.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    size_t complete = 0;
    while (complete < ends.size() && ends[complete] <= cut) ++complete;
    const size_t frame_start = complete == 0 ? 0 : ends[complete - 1];
    const size_t into_frame = cut - frame_start;

    std::vector<std::string> lines;
    if (into_frame > 0) lines.push_back(into_frame < kWalHeaderSize ? kIncomplete : kMissing);
    lines.push_back(kSuccess);
    std::string whole_frames;
    for (size_t i = 0; i < complete; ++i) whole_frames += frames[i];
    const testing::ReferenceStore expected = expected_store(read_reference_log(whole_frames));

    const Replayed got = replay(log.substr(0, cut));
    ASSERT_TRUE(got.ok);
    EXPECT_EQ(got.lines, lines);
    EXPECT_EQ(got.stored.documents, expected.documents);
    EXPECT_EQ(got.stored.index, expected.index);
    EXPECT_EQ(got.log_size_after, 0);
  }
}

TEST(DamagedWal, UnknownOpBytesBetweenValidFramesAreSkipped) {
  for (int op : {0, 4, 255}) {
    const std::string log = wal_frame_bytes(kWalInsert, "a", R"({"v":1})") +
                            wal_frame_bytes(static_cast<uint8_t>(op), "skip", R"({"z":1})") +
                            wal_frame_bytes(kWalInsert, "b", R"({"v":2})");
    SCOPED_TRACE(op);
    const Replayed got = replay(log);
    ASSERT_TRUE(got.ok);
    EXPECT_EQ(got.lines, (std::vector<std::string>{
                             "Op type is different, skipping this operation " + std::to_string(op),
                             kSuccess}));
    EXPECT_EQ(got.stored.documents,
              (std::map<std::string, std::string>{{"a", R"({"v":1})"}, {"b", R"({"v":2})"}}));
    EXPECT_EQ(got.stored.index,
              (std::set<std::pair<std::string, std::string>>{{"v.1", "a"}, {"v.2", "b"}}));
  }
}

TEST(DamagedWal, LengthsBeyondTheLogAreAFrameCutShortAndCostOnlyWhatTheLogHolds) {
  const std::string before = wal_frame_bytes(kWalInsert, "a", R"({"v":1})");
  const std::string tail_small = "k{}";
  const std::string tail_large(3 * 1024 * 1024 + 17, '7');  // megabytes of real bytes
  const struct {
    uint8_t op;
    uint32_t id_length;
    uint32_t payload_length;
  } headers[] = {
      {kWalInsert, 1, 0xFFFFFFFF},
      {kWalInsert, 0xFFFFFFFF, 0},
      {kWalUpsert, 0xFFFFFFFF, 0xFFFFFFFF},
      {kWalDelete, 0x80000000, 0x80000000},
      {200, 0xFFFFFFF0, 0x10},
  };
  for (const auto& h : headers) {
    for (const std::string* tail : {&tail_small, &tail_large}) {
      const std::string log =
          before + wal_header_bytes(h.op, h.id_length, h.payload_length) + *tail;
      SCOPED_TRACE(std::to_string(h.id_length) + "/" + std::to_string(h.payload_length) + " over " +
                   std::to_string(tail->size()));
      const Replayed got = replay(log);
      ASSERT_TRUE(got.ok);
      EXPECT_EQ(got.lines, (std::vector<std::string>{kMissing, kSuccess}));
      EXPECT_EQ(got.stored.documents, (std::map<std::string, std::string>{{"a", R"({"v":1})"}}));
      EXPECT_EQ(got.log_size_after, 0);
      // A declared length beyond what remains of the log is refused before anything is set
      // aside for it: no allocation is larger than the log itself or the replay's 64 KiB read
      // buffer, whatever the header claims.
      EXPECT_LE(got.largest_allocation, std::max(log.size(), size_t{64} * 1024) + 1);
    }
  }
}

// Logs made of random bytes, and of frames with random op bytes, ids, payloads and lengths,
// cut at random places.
TEST(DamagedWal, RandomLogsReplayAsTheirPlainReading) {
  std::mt19937 random(20240611);
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
  auto random_bytes = [&](size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(pick(256));
    return s;
  };
  const std::string ids[] = {"a", "b", "", "\xff", "x\xe2\x82", "long-id-0123456789"};
  const std::string payloads[] = {
      R"({"n":1})", R"({"n":2,"s":["a","b"]})", "[1.25,false]", "", "{", R"({"n":1e400})"};
  const uint8_t ops[] = {1, 1, 2, 3, 3, 0, 4, 255};

  for (int round = 0; round < 150; ++round) {
    std::string log;
    if (round % 5 == 0) {
      log = random_bytes(pick(80));
    } else {
      const size_t count = pick(7);
      for (size_t i = 0; i < count; ++i) {
        const std::string id = pick(8) == 0 ? random_bytes(pick(5)) : ids[pick(std::size(ids))];
        const std::string payload =
            pick(8) == 0 ? random_bytes(pick(20)) : payloads[pick(std::size(payloads))];
        std::string frame = wal_frame_bytes(ops[pick(std::size(ops))], id, payload);
        if (pick(12) == 0) {  // a damaged length field
          const uint32_t length = pick(2) ? 0xFFFFFFFF : static_cast<uint32_t>(random());
          frame.replace(1 + 4 * pick(2), 4, wal_header_bytes(0, length, 0).substr(1, 4));
        }
        log += frame;
      }
      if (pick(2) == 0 && !log.empty()) log.resize(pick(log.size()));
    }
    expect_replayed_as_read(log, "round " + std::to_string(round));
  }
}

}  // namespace
}  // namespace quorvane::db_engine_web_server
