// A whole replay of arbitrary bytes as the write-ahead log of a fresh store: it must succeed,
// print the lines of a plain reading of the bytes, leave exactly the documents and index
// entries that reading gives, and leave the log empty. Each input opens a store of its own:
// slow, so inputs stay small (the store lives in /dev/shm when TMPDIR is not set).
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "db_engine_web_server/wal_replay.h"
#include "fuzz_check.h"
#include "test_support.h"
#include "wal_reference.h"

using quorvane::fuzzing::fuzz_check;
namespace testing = quorvane::testing;

namespace {

// Standard output goes to a memory file, so that the lines of each replay can be read back.
void begin_capture() {
  std::fflush(stdout);
  fuzz_check(::ftruncate(STDOUT_FILENO, 0) == 0, "emptying the captured output");
  fuzz_check(::lseek(STDOUT_FILENO, 0, SEEK_SET) == 0, "rewinding the captured output");
}

std::vector<std::string> captured_lines() {
  std::fflush(stdout);
  struct stat st {};
  fuzz_check(::fstat(STDOUT_FILENO, &st) == 0, "measuring the captured output");
  std::string text(static_cast<size_t>(st.st_size), '\0');
  fuzz_check(::pread(STDOUT_FILENO, text.data(), text.size(), 0) == st.st_size,
             "reading the captured output");
  fuzz_check(text.empty() || text.back() == '\n', "a line without its line feed");
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!std::getenv("TMPDIR") && ::access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
  const int capture = ::memfd_create("stdout", MFD_CLOEXEC);
  fuzz_check(capture >= 0 && ::dup2(capture, STDOUT_FILENO) == STDOUT_FILENO, "capturing stdout");
  ::close(capture);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string log(reinterpret_cast<const char*>(data), size);
  testing::TempDir dir;
  auto db = quorvane::store::Store::open(dir.file("db"));
  fuzz_check(static_cast<bool>(db), "opening the store");
  fuzz_check(static_cast<bool>(db.value()->ensure_tables()), "creating the tables");
  const std::string wal = dir.file("db.wal");
  fuzz_check(static_cast<bool>(std::ofstream(wal, std::ios::binary) << log), "writing the log");

  begin_capture();
  const bool replayed =
      static_cast<bool>(quorvane::db_engine_web_server::recover_wal_on_startup(*db.value(), wal));
  fuzz_check(replayed, "replay failed");

  const testing::ReferenceLog reference = testing::read_reference_log(log);
  fuzz_check(captured_lines() == testing::expected_replay_lines(reference), "printed lines");
  const testing::ReferenceStore expected = testing::expected_store(reference);
  fuzz_check(testing::dump_documents(*db.value()) == expected.documents, "documents");
  fuzz_check(testing::dump_index(*db.value()) == expected.index, "index entries");
  struct stat st {};
  fuzz_check(::stat(wal.c_str(), &st) == 0 && st.st_size == 0, "the log was not emptied");
  return 0;
}
