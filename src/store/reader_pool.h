// The store's read connections: a pool that lends each one to one thread at a time. Private to
// the store layer.
//
// A thread mostly gets the same slot, and so the same connection with its warm page cache,
// without any lock: a slot is taken with one atomic exchange. When every slot is leased, an
// idle spare connection (a new one when none is idle) is lent under a mutex instead. Every
// connection is opened on the file at the store's absolute path, on its first lease.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "store/connections.h"
#include "util/result.h"

namespace quorvane::store {

class ReaderPool;

// A read connection and the flag that says it is leased, on a cache line of its own so that
// readers on different connections do not share one.
struct alignas(64) ReaderSlot {
  std::atomic<bool> leased{false};
  std::unique_ptr<ReaderConnection> connection;  // opened by its first lease
};

// A read connection borrowed from the pool; goes back to it when released.
class ReadLease {
 public:
  explicit ReadLease(ReaderSlot& slot) : slot_(&slot), reader_(slot.connection.get()) {}
  ReadLease(ReaderPool& pool, std::unique_ptr<ReaderConnection> connection)
      : pool_(&pool), spare_(std::move(connection)), reader_(spare_.get()) {}
  ReadLease(ReadLease&& other) noexcept
      : pool_(other.pool_),
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
  ReaderPool* pool_ = nullptr;
  ReaderSlot* slot_ = nullptr;               // a slot's connection, or
  std::unique_ptr<ReaderConnection> spare_;  // one from the spare list
  ReaderConnection* reader_;
};

class ReaderPool {
 public:
  explicit ReaderPool(std::string path) : path_(std::move(path)) {}
  ReaderPool(const ReaderPool&) = delete;
  ReaderPool& operator=(const ReaderPool&) = delete;

  // A read connection for the calling thread; fails with the store's message when a new one
  // cannot be opened.
  Result<ReadLease> lease();

  static constexpr size_t kSlots = 16;

 private:
  friend class ReadLease;
  void give_back(std::unique_ptr<ReaderConnection> connection);

  std::string path_;
  std::array<ReaderSlot, kSlots> slots_;
  std::mutex spare_mutex_;
  std::vector<std::unique_ptr<ReaderConnection>> spare_readers_;
};

}  // namespace quorvane::store
