// The store layer's own way into a Store's connections. Private to src/store/: the units of
// the store (transactions, read steps, the backup copy) include it, nothing else does.
#pragma once

#include "store/connections.h"
#include "store/reader_pool.h"
#include "store/store.h"

namespace quorvane::store {

struct StoreInternals {
  static WriterConnection& writer(Store& store) { return *store.writer_; }
  static ReaderPool& readers(Store& store) { return *store.readers_; }
};

// The writer connection. Only one thread may use it at a time.
inline WriterConnection& writer_of(Store& store) { return StoreInternals::writer(store); }

// A read connection for the calling thread (ReaderPool::lease).
inline Result<ReadLease> lease_reader(Store& store) {
  return StoreInternals::readers(store).lease();
}

}  // namespace quorvane::store
