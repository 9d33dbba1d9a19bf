#include "store/store.h"

#include <filesystem>

#include "store/connections.h"
#include "store/reader_pool.h"
#include "store/tables.h"

namespace quorvane::store {

namespace {

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

Store::Store(Key, std::string path, FileLock lock, std::unique_ptr<WriterConnection> writer)
    : path_(std::move(path)),
      lock_(std::move(lock)),
      writer_(std::move(writer)),
      readers_(std::make_unique<ReaderPool>(path_)) {}

Store::~Store() = default;

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

Status Store::ensure_tables() {
  Connection& c = writer_->connection;
  if (Status s = c.exec("BEGIN IMMEDIATE"); !s) return s;
  Status s = create_missing_tables(*writer_);
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

}  // namespace quorvane::store
