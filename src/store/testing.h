// Test-only access to a store's insides: the module never includes this. Tests reach the
// writer connection (to hold a transaction open, install hooks or set SQLite limits), read the
// tables through a connection of the read pool, learn the pool's size, and shrink the bounds
// on staged index changes so that a small batch writes them out early.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <utility>

#include "store/store_internals.h"

namespace quorvane::store::test_access {

// The writer connection. Only one thread may use it at a time: not while a writer thread runs
// a batch.
inline Connection& writer_connection(Store& store) { return writer_of(store).connection; }

// How many read connections the pool keeps in slots; more reading threads share spares.
inline constexpr size_t kReaderSlots = ReaderPool::kSlots;

// Staged index changes are written out once they hold more than `max_bytes` of text or more
// than `max_changes` changes.
inline void set_staged_index_limits(Store& store, size_t max_bytes, size_t max_changes) {
  WriterConnection& writer = writer_of(store);
  writer.max_staged_index_bytes = max_bytes;
  writer.max_staged_index_changes = max_changes;
}

// Runs `sql` on a read connection of the pool and calls `row(statement)` for each row it
// gives; a lease or statement that fails throws std::runtime_error with the store's message.
template <class Row>
void for_each_row(Store& store, const char* sql, Row&& row) {
  Result<ReadLease> lease = lease_reader(store);
  if (!lease) throw std::runtime_error(lease.error());
  Result<Statement> statement = Statement::prepare((*lease.value()).connection.get(), sql);
  if (!statement) throw std::runtime_error(statement.error());
  while (statement->step() == SQLITE_ROW) row(statement.value());
}

}  // namespace quorvane::store::test_access
