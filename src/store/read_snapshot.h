// ReadSnapshot: an explicit read transaction on a leased read connection, so that several
// statements read one state of the store. Private to the store layer.
//
// begin() opens the transaction and takes its snapshot at once (with a first read), so the
// state read is the one committed when begin() returns; every statement run on the connection
// until the transaction ends reads that state. end() commits and reports the outcome. A
// snapshot released while open (end() not called, or begin() failed half way) is rolled back,
// so the connection always goes back to the pool outside any transaction. Nothing is written
// in a read transaction, so ending it either way keeps the store as it was.
#pragma once

#include "store/connections.h"
#include "util/result.h"

namespace quorvane::store {

class ReadSnapshot {
 public:
  explicit ReadSnapshot(ReaderConnection& reader) : reader_(reader) {}
  ReadSnapshot(const ReadSnapshot&) = delete;
  ReadSnapshot& operator=(const ReadSnapshot&) = delete;
  ~ReadSnapshot();

  // Fails with the store's message when the transaction cannot begin or the snapshot cannot
  // be taken.
  Status begin();
  // Fails with the store's message when the commit fails (the transaction is then rolled back).
  Status end();

 private:
  ReaderConnection& reader_;
  bool active_ = false;
};

}  // namespace quorvane::store
