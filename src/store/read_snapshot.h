// ReadSnapshot: an explicit read transaction on a leased read connection, so that several
// statements read one state of the store. Private to the store layer.
//
// begin() opens the transaction. Its snapshot is taken by the first statement run in it,
// which is all that a run of lookups needs; with Taken::AtBegin a read of its own takes it at
// once, so that the state read is the one committed when begin() returns. Every statement run
// on the connection until the transaction ends reads that state. end() commits and reports
// the outcome. A snapshot released while open (end() not called, or begin() failed half way)
// is rolled back, so the connection always goes back to the pool outside any transaction.
// Nothing is written in a read transaction, so ending it either way keeps the store as it was.
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

  enum class Taken { AtFirstRead, AtBegin };

  // Fails with the store's message when the transaction cannot begin or (AtBegin) the
  // snapshot cannot be taken.
  Status begin(Taken when = Taken::AtFirstRead);
  // Fails with the store's message when the commit fails (the transaction is then rolled back).
  Status end();

 private:
  ReaderConnection& reader_;
  bool active_ = false;
};

}  // namespace quorvane::store
