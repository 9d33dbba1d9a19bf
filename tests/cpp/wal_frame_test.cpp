#include "db_engine_web_server/wal_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db_engine_web_server/wal_frame_reader.h"

namespace quorvane::db_engine_web_server {
namespace {

struct StringSink {
  std::string bytes;
  Status write(std::string_view piece) {
    bytes.append(piece);
    return Status::Ok();
  }
};

struct StringSource {
  std::string_view data;
  size_t pos = 0;
  Result<size_t> read(char* out, size_t size) {
    const size_t n = std::min(size, data.size() - pos);
    data.copy(out, n, pos);
    pos += n;
    return n;
  }
};

const std::string kInsertA1("\x01\x02\0\0\0\x07\0\0\0a1{\"x\":1}", 18);
const std::string kDeleteA1("\x02\x02\0\0\0\0\0\0\0a1", 11);

TEST(WalFrame, EncodesInsertsDeletesAndUpsertsAndNothingElse) {
  StringSink sink;
  size_t frames = 0;
  EXPECT_EQ(write_wal_frame(sink, frames,
                            WriteOp::insert("a1", document::DocBytes::copy_of(R"({"x":1})"))),
            FrameWrite::Framed);
  EXPECT_EQ(sink.bytes, kInsertA1);
  sink.bytes.clear();
  EXPECT_EQ(write_wal_frame(sink, frames, WriteOp::remove("a1")), FrameWrite::Framed);
  EXPECT_EQ(sink.bytes, kDeleteA1);
  sink.bytes.clear();
  EXPECT_EQ(write_wal_frame(sink, frames, WriteOp::upsert("", document::DocBytes::copy_of(""))),
            FrameWrite::Framed);
  EXPECT_EQ(sink.bytes, std::string("\x03\0\0\0\0\0\0\0\0", 9));
  sink.bytes.clear();
  EXPECT_EQ(write_wal_frame(sink, frames, WriteOp::backup("/tmp/b")), FrameWrite::NotFramed);
  EXPECT_EQ(write_wal_frame(sink, frames, WriteOp::shutdown()), FrameWrite::NotFramed);
  EXPECT_TRUE(sink.bytes.empty());
  EXPECT_EQ(frames, 3u);

  // The lengths are 32 bits wide: 4 GiB and more cannot be framed.
  EXPECT_TRUE(wal_frame_fits(0xFFFFFFFFull, 0xFFFFFFFFull));
  EXPECT_FALSE(wal_frame_fits(0x100000000ull, 0));
  EXPECT_FALSE(wal_frame_fits(0, 0x100000000ull));
}

TEST(WalFrameReader, ReadsFramesBackInOrder) {
  const std::string log = kInsertA1 + kDeleteA1;
  StringSource source{log};
  uint64_t remaining = log.size();
  WalFrame frame;
  std::string error;
  ASSERT_EQ(read_wal_frame(source, remaining, frame, error), WalRead::Frame);
  EXPECT_EQ(frame.op, kWalInsert);
  EXPECT_EQ(frame.id, "a1");
  EXPECT_EQ(frame.payload.view(), R"({"x":1})");
  ASSERT_EQ(read_wal_frame(source, remaining, frame, error), WalRead::Frame);
  EXPECT_EQ(frame.op, kWalDelete);
  EXPECT_EQ(frame.id, "a1");
  EXPECT_EQ(frame.payload.size(), 0u);
  EXPECT_EQ(read_wal_frame(source, remaining, frame, error), WalRead::End);
}

TEST(WalFrameReader, TellsApartWhereATruncatedLogEnds) {
  for (size_t cut = 0; cut < kInsertA1.size(); ++cut) {
    const std::string log = kDeleteA1 + kInsertA1.substr(0, cut);
    StringSource source{log};
    uint64_t remaining = log.size();
    WalFrame frame;
    std::string error;
    ASSERT_EQ(read_wal_frame(source, remaining, frame, error), WalRead::Frame);
    const WalRead expected = cut == 0               ? WalRead::End
                             : cut < kWalHeaderSize ? WalRead::IncompleteHeader
                                                    : WalRead::MissingData;
    EXPECT_EQ(read_wal_frame(source, remaining, frame, error), expected) << "cut at " << cut;
  }
}

TEST(WalFrameReader, DeclaredLengthsBeyondTheInputAreMissingData) {
  // 4 GiB - 1 declared for the id or the payload, a few bytes present: no memory is set aside
  // for what is not there.
  for (const std::string& header : {std::string("\x01\xFF\xFF\xFF\xFF\0\0\0\0", 9),
                                    std::string("\x01\x01\0\0\0\xFF\xFF\xFF\xFF", 9)}) {
    const std::string log = header + "abc";
    StringSource source{log};
    uint64_t remaining = log.size();
    WalFrame frame;
    std::string error;
    EXPECT_EQ(read_wal_frame(source, remaining, frame, error), WalRead::MissingData);
  }
}

TEST(WalFrameReader, ReportsAFailingSource) {
  struct FailingSource {
    Result<size_t> read(char*, size_t) { return Err{"Input/output error"}; }
  } source;
  uint64_t remaining = 100;
  WalFrame frame;
  std::string error;
  EXPECT_EQ(read_wal_frame(source, remaining, frame, error), WalRead::Error);
  EXPECT_EQ(error, "Input/output error");
}

}  // namespace
}  // namespace quorvane::db_engine_web_server
