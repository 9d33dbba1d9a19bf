#include "store/reader_pool.h"

#include <cstdint>
#include <functional>
#include <thread>

namespace quorvane::store {

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
  return static_cast<size_t>((h * 0x9E3779B97F4A7C15ull) >> 59) % ReaderPool::kSlots;
}

}  // namespace

ReadLease::~ReadLease() {
  if (slot_) {
    slot_->leased.store(false, std::memory_order_release);
  } else if (spare_) {
    pool_->give_back(std::move(spare_));
  }
}

Result<ReadLease> ReaderPool::lease() {
  const size_t home = home_slot();
  for (size_t i = 0; i < kSlots; ++i) {
    ReaderSlot& slot = slots_[(home + i) % kSlots];
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

void ReaderPool::give_back(std::unique_ptr<ReaderConnection> connection) {
  std::lock_guard lock(spare_mutex_);
  spare_readers_.push_back(std::move(connection));
}

}  // namespace quorvane::store
