// The store: one SQLite database file holding the tables "documents" (id -> stored document)
// and "metadata_index" (the set of (key, id) pairs), opened with its file locked exclusively.
//
//   documents(id TEXT PRIMARY KEY, doc BLOB) WITHOUT ROWID
//   metadata_index(key TEXT, id TEXT, PRIMARY KEY (key, id)) WITHOUT ROWID
//
// Texts compare with the BINARY collation, so ids and keys iterate in ascending byte order.
// The file is in WAL journal mode with synchronous=FULL: every commit is durable.
//
// A Store is shared through std::shared_ptr (the store handle): the instance, its writer
// thread and every backup worker hold one, and the last holder closes the connections and
// then releases the file lock.
//
// The connections stay inside the store layer: the writer connection, used by one thread at
// a time (the constructor, then the writer thread), is reached through a WriteTransaction
// (write_transaction.h); the pool of read connections through the read steps (reads.h) and
// the backup copy (backup_copy.h). Tests reach them through store/testing.h.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "store/file_lock.h"
#include "util/result.h"

namespace quorvane::store {

// The largest id plus stored document that one record of the store can hold.
inline constexpr size_t kMaxRecordBytes = 999'000'000;

// True when an id of `id_size` bytes and a stored document of `doc_size` bytes fit one record.
constexpr bool fits_one_record(size_t id_size, size_t doc_size) {
  return id_size <= kMaxRecordBytes && doc_size <= kMaxRecordBytes - id_size;
}

struct WriterConnection;  // connections.h, private to the store layer
class ReaderPool;         // reader_pool.h, private to the store layer

class Store {
 public:
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  ~Store();

  // Opens or creates the store at `path` and locks it. Fails with the store's message
  // (kAlreadyOpenText when the file is open in this process or another). A relative path is
  // taken against the working directory now: the store keeps the absolute one, so that its
  // read connections, opened later, reach the same file whatever the working directory has
  // become (and no name is ever read as one of SQLite's special names).
  static Result<std::shared_ptr<Store>> open(const std::string& path);

  // Only open() builds a Store; the key keeps the constructor out of other hands.
  class Key {
    friend class Store;
    Key() = default;
  };
  Store(Key, std::string path, FileLock lock, std::unique_ptr<WriterConnection> writer);

  // Makes sure both tables exist and have the shape the writers and readers use, in one
  // committed write transaction; fails with the store's message otherwise.
  Status ensure_tables();

  const std::string& path() const { return path_; }

 private:
  friend struct StoreInternals;  // store_internals.h

  std::string path_;
  // Members are released in reverse order: the read connections, the writer connection, and
  // last the file lock, once every connection is closed.
  FileLock lock_;
  std::unique_ptr<WriterConnection> writer_;
  std::unique_ptr<ReaderPool> readers_;
};

}  // namespace quorvane::store
