// The WAL frame reader over arbitrary bytes as a log, read from a file through the buffered
// reader with a buffer size that varies with the input: it must give exactly the frames, and
// end exactly as, a plain reading of the same bytes by offsets.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string_view>

#include "db_engine_web_server/wal_frame_reader.h"
#include "fuzz_check.h"
#include "util/buffered_reader.h"
#include "util/file.h"
#include "wal_reference.h"

using quorvane::fuzzing::fuzz_check;
using quorvane::testing::ReferenceEnd;
namespace db_engine_web_server = quorvane::db_engine_web_server;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view log(reinterpret_cast<const char*>(data), size);
  quorvane::UniqueFd file(::memfd_create("wal", MFD_CLOEXEC));
  fuzz_check(static_cast<bool>(file), "memfd_create");
  fuzz_check(static_cast<bool>(quorvane::write_all(file.get(), log)), "writing the log");
  fuzz_check(::lseek(file.get(), 0, SEEK_SET) == 0, "seeking to the start");

  const quorvane::testing::ReferenceLog reference = quorvane::testing::read_reference_log(log);
  quorvane::BufferedFileReader reader(file.get(), 1 + size % 61);
  uint64_t remaining = size;
  db_engine_web_server::WalFrame frame;
  std::string error;
  size_t count = 0;
  for (;;) {
    const db_engine_web_server::WalRead outcome =
        db_engine_web_server::read_wal_frame(reader, remaining, frame, error);
    if (outcome != db_engine_web_server::WalRead::Frame) {
      fuzz_check(count == reference.frames.size(), "the frames end early");
      const ReferenceEnd expected = reference.end;
      fuzz_check(outcome != db_engine_web_server::WalRead::Error, "a read error on a readable log");
      fuzz_check(
          (outcome == db_engine_web_server::WalRead::End) == (expected == ReferenceEnd::Clean) &&
              (outcome == db_engine_web_server::WalRead::IncompleteHeader) ==
                  (expected == ReferenceEnd::IncompleteHeader) &&
              (outcome == db_engine_web_server::WalRead::MissingData) ==
                  (expected == ReferenceEnd::MissingData),
          "the log ends otherwise than its plain reading");
      return 0;
    }
    fuzz_check(count < reference.frames.size(), "a frame beyond the plain reading");
    const quorvane::testing::ReferenceFrame& expected = reference.frames[count++];
    fuzz_check(frame.op == expected.op, "op byte");
    fuzz_check(frame.id == expected.id, "id bytes");
    fuzz_check(frame.payload.view() == expected.payload, "payload bytes");
    fuzz_check(
        frame.payload.padded_size() >= frame.payload.size() + quorvane::document::kDocPadding,
        "payload padding");
  }
}
