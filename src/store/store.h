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
// Connections: one writer connection, used by one thread at a time (the constructor, then the
// writer thread); read connections are leased, one thread at a time each (lease_reader).
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/file_lock.h"
#include "store/index_changes.h"
#include "store/sqlite_handle.h"
#include "util/result.h"

namespace quorvane::store {

// The largest id plus stored document that one record of the store can hold.
inline constexpr size_t kMaxRecordBytes = 999'000'000;

// nullopt when a document of `doc_size` bytes under `id` fits one record of the store, else
// the message with which a write method refuses it.
std::optional<std::string> record_size_error(std::string_view id, size_t doc_size);

// The writer connection with the statements a write transaction uses, prepared when the
// tables are first opened and kept for the connection's life.
struct WriterConnection {
  Connection connection;
  bool tables_open = false;
  Statement insert_new;         // stores a document under an id not stored yet
  Statement select_doc;         // the stored document of an id
  Statement update_doc;         // replaces the document of a stored id
  Statement delete_doc;         // removes an id, giving back its document
  Statement put_doc;            // stores a document, replacing any
  Statement index_add;          // adds one (key, id) pair
  Statement index_add_rows;     // adds kIndexRowsPerInsert pairs
  Statement index_remove;       // removes one (key, id) pair
  IndexChangeSet staged_index;  // the open transaction's index changes not written yet
  // Staged changes are written out before more are staged once they hold more text or more
  // changes than this, so that a huge batch or document does not hold its whole index in
  // memory.
  size_t max_staged_index_bytes = size_t{64} << 20;
  size_t max_staged_index_changes = size_t{4} << 20;
};

// A read connection with its statements, prepared on first use.
struct ReaderConnection {
  Connection connection;
  Statement get_doc;
  Statement scan_from;
  Statement index_matches;
  Statement index_page;
  Statement all_documents;
  Statement all_index_entries;
};

class Store;

// A read connection and the flag that says it is leased, on a cache line of its own so that
// readers on different connections do not share one.
struct alignas(64) ReaderSlot {
  std::atomic<bool> leased{false};
  std::unique_ptr<ReaderConnection> connection;  // opened by its first lease
};

// A read connection borrowed from the store; goes back to it when released.
class ReadLease {
 public:
  ReadLease(ReaderSlot& slot) : slot_(&slot), reader_(slot.connection.get()) {}
  ReadLease(Store& store, std::unique_ptr<ReaderConnection> connection)
      : store_(&store), spare_(std::move(connection)), reader_(spare_.get()) {}
  ReadLease(ReadLease&& other) noexcept
      : store_(other.store_),
        slot_(std::exchange(other.slot_, nullptr)),
        spare_(std::move(other.spare_)),
        reader_(std::exchange(other.reader_, nullptr)) {}
  ReadLease& operator=(ReadLease&&) = delete;
  ReadLease(const ReadLease&) = delete;
  ReadLease& operator=(const ReadLease&) = delete;
  ~ReadLease();

  ReaderConnection& operator*() { return *reader_; }
  ReaderConnection* operator->() { return reader_; }

 private:
  Store* store_ = nullptr;
  ReaderSlot* slot_ = nullptr;               // a slot's connection, or
  std::unique_ptr<ReaderConnection> spare_;  // one from the spare list
  ReaderConnection* reader_;
};

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
  Store(Key, std::string path, FileLock lock, std::unique_ptr<WriterConnection> writer)
      : path_(std::move(path)), lock_(std::move(lock)), writer_(std::move(writer)) {}

  // Makes sure both tables exist and have the shape the writers and readers use, in one
  // committed write transaction; fails with the store's message otherwise.
  Status ensure_tables();

  // Creates whichever of the two tables is missing, inside the writer's open transaction.
  Status create_missing_tables();

  const std::string& path() const { return path_; }

  // The writer connection. Only one thread may use it at a time.
  WriterConnection& writer() { return *writer_; }

  // A read connection for the calling thread. A thread mostly gets the same slot, and so the
  // same connection with its warm page cache, without any lock: the slot is taken with one
  // atomic exchange. When every slot is leased, an idle spare connection (a new one when none
  // is idle) is lent under a mutex instead.
  Result<ReadLease> lease_reader();

  static constexpr size_t kReaderSlots = 16;

 private:
  friend class ReadLease;
  void give_back(std::unique_ptr<ReaderConnection> connection);

  std::string path_;
  // Declared first so that it is released last, after every connection is closed.
  FileLock lock_;
  std::unique_ptr<WriterConnection> writer_;
  std::array<ReaderSlot, kReaderSlots> reader_slots_;
  std::mutex spare_mutex_;
  std::vector<std::unique_ptr<ReaderConnection>> spare_readers_;
};

}  // namespace quorvane::store
