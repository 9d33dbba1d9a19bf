#include "store/store.h"

#include <filesystem>
#include <functional>
#include <thread>

#include "store/write_transaction.h"

namespace quorvane::store {

std::optional<std::string> record_size_error(std::string_view id, size_t doc_size) {
  const size_t total = id.size() + doc_size;
  if (total <= kMaxRecordBytes) return std::nullopt;
  std::string message = "Document too large to store for ";
  message.append(id.data(), id.size());
  message += ": the id and the document take " + std::to_string(total) +
             " bytes, the store holds at most " + std::to_string(kMaxRecordBytes) +
             " bytes in one record";
  return message;
}

namespace {

// Opens a read connection.
Result<std::unique_ptr<ReaderConnection>> open_reader(const std::string& path) {
  Result<Connection> connection = Connection::open(path);
  if (!connection) return std::move(connection).take_error();
  // Reads copy straight out of the mapped file where they can. The size asked for is cut to
  // the library's own limit (2 GiB in common builds): mapping costs address space only, and
  // pages past the map would be read with a system call into a small page cache.
  (void)connection->exec("PRAGMA mmap_size=1099511627776");
  auto reader = std::make_unique<ReaderConnection>();
  reader->connection = std::move(connection).value();
  return reader;
}

// The slot a thread tries first: threads spread over the slots and keep theirs.
size_t home_slot() {
  const uint64_t h = std::hash<std::thread::id>{}(std::this_thread::get_id());
  return static_cast<size_t>((h * 0x9E3779B97F4A7C15ull) >> 59) % Store::kReaderSlots;
}

// Sets the header's user version to the value it has.
Status rewrite_user_version(Connection& c) {
  Result<Statement> read = Statement::prepare(c.get(), "PRAGMA user_version");
  if (!read) return std::move(read).take_error();
  if (read->step() != SQLITE_ROW) return Err{c.error_text()};
  const int64_t version = sqlite3_column_int64(read->get(), 0);
  read->reset();
  return c.exec(("PRAGMA user_version=" + std::to_string(version)).c_str());
}

}  // namespace

ReadLease::~ReadLease() {
  if (slot_) {
    slot_->leased.store(false, std::memory_order_release);
  } else if (spare_) {
    store_->give_back(std::move(spare_));
  }
}

Store::~Store() {
  // Members go in reverse order: the spare readers, the slots' readers, the writer, and last
  // the file lock.
  spare_readers_.clear();
  for (ReaderSlot& slot : reader_slots_) slot.connection.reset();
  writer_.reset();
}

Result<std::shared_ptr<Store>> Store::open(const std::string& given_path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(given_path, error);
  if (error) return Err{error.message()};
  const std::string path = absolute.string();
  Result<FileLock> lock = FileLock::acquire(path);
  if (!lock) return std::move(lock).take_error();

  Result<Connection> connection = Connection::open(path);
  if (!connection) return std::move(connection).take_error();
  // A new file gets 16 KiB pages (fewer, shallower tree pages for the index's many short
  // rows); an existing file keeps its own. It must be set before anything is written.
  if (Status s = connection->exec("PRAGMA page_size=16384"); !s) return std::move(s).take_error();
  // journal_mode answers with a row; reading it through exec is enough.
  if (Status s = connection->exec("PRAGMA journal_mode=WAL"); !s) return std::move(s).take_error();
  if (Status s = connection->exec("PRAGMA synchronous=FULL"); !s) {
    return std::move(s).take_error();
  }
  if (Status s = connection->exec("PRAGMA cache_size=-65536"); !s) {
    return std::move(s).take_error();
  }
  // The log is copied back into the file once it holds 64 MiB of pages rather than SQLite's
  // 4 MiB: a bulk load rewrites the same index pages in commit after commit, and each copy
  // back costs reads, writes and a sync of the file.
  (void)connection->exec("PRAGMA wal_autocheckpoint=4096");
  auto writer = std::make_unique<WriterConnection>();
  writer->connection = std::move(connection).value();
  return std::make_shared<Store>(Key(), path, std::move(lock).value(), std::move(writer));
}

Status Store::create_missing_tables() {
  Connection& c = writer_->connection;
  Status s = c.exec(
      "CREATE TABLE IF NOT EXISTS documents ("
      "id TEXT NOT NULL PRIMARY KEY, doc BLOB NOT NULL) WITHOUT ROWID");
  if (s) {
    s = c.exec(
        "CREATE TABLE IF NOT EXISTS metadata_index ("
        "key TEXT NOT NULL, id TEXT NOT NULL, PRIMARY KEY (key, id)) WITHOUT ROWID");
  }
  return s;
}

Status Store::ensure_tables() {
  Connection& c = writer_->connection;
  if (Status s = c.exec("BEGIN IMMEDIATE"); !s) return s;
  Status s = create_missing_tables();
  // Tables of another shape (a file some other program made) fail here, where the constructor
  // can report it, rather than in every batch of the writer later.
  if (s) s = prepare_table_statements(*writer_);
  // The header's user version, written back unchanged, puts one page into SQLite's log, which
  // then records the file's size: until some commit has done that, every read transaction
  // asks the file system for it (a system call on each point read of a read-only session).
  if (s) s = rewrite_user_version(c);
  if (s) s = c.exec("COMMIT");
  if (!s) (void)c.exec("ROLLBACK");
  return s;
}

Result<ReadLease> Store::lease_reader() {
  const size_t home = home_slot();
  for (size_t i = 0; i < kReaderSlots; ++i) {
    ReaderSlot& slot = reader_slots_[(home + i) % kReaderSlots];
    if (slot.leased.load(std::memory_order_relaxed) ||
        slot.leased.exchange(true, std::memory_order_acquire)) {
      continue;
    }
    if (!slot.connection) {
      Result<std::unique_ptr<ReaderConnection>> opened = open_reader(path_);
      if (!opened) {
        slot.leased.store(false, std::memory_order_release);
        return std::move(opened).take_error();
      }
      slot.connection = std::move(opened).value();
    }
    return ReadLease(slot);
  }
  {
    std::lock_guard lock(spare_mutex_);
    if (!spare_readers_.empty()) {
      std::unique_ptr<ReaderConnection> connection = std::move(spare_readers_.back());
      spare_readers_.pop_back();
      return ReadLease(*this, std::move(connection));
    }
  }
  Result<std::unique_ptr<ReaderConnection>> opened = open_reader(path_);
  if (!opened) return std::move(opened).take_error();
  return ReadLease(*this, std::move(opened).value());
}

void Store::give_back(std::unique_ptr<ReaderConnection> connection) {
  std::lock_guard lock(spare_mutex_);
  spare_readers_.push_back(std::move(connection));
}

}  // namespace quorvane::store
