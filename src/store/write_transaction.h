// One write transaction on the writer connection: BEGIN IMMEDIATE ... COMMIT. A transaction
// that is released without commit() is rolled back, its staged index changes with it.
//
// open_tables() is the step in which the tables are opened: it prepares (once per connection)
// the statements below and fails with the store's message when a table is missing or has
// another shape.
//
// A statement that fails refuses one record when the record is beyond what the store holds;
// any other failure (a full disk, an I/O error, memory exhausted, a damaged file) fails the
// transaction as a whole: failed() is true from then on, the writers apply nothing more, and
// commit() rolls it back and returns that failure's message. So a transaction commits either
// every operation it was given (but for refused records) or none.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "document/doc_bytes.h"
#include "store/store.h"
#include "util/result.h"

namespace quorvane::store {

class WriteTransaction {
 public:
  WriteTransaction(WriteTransaction&& other) noexcept
      : writer_(other.writer_),
        active_(std::exchange(other.active_, false)),
        failure_(std::move(other.failure_)) {}
  WriteTransaction& operator=(WriteTransaction&&) = delete;
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;
  ~WriteTransaction();

  static Result<WriteTransaction> begin(Store& store);

  Status open_tables();

  // Each of the changes below fails with the store's message (see above for which failures
  // fail the transaction too).

  // Stores `doc` under `id`. When a document was stored there before, it is replaced and
  // handed back (copied, with padding); nothing is handed back for a new id.
  Result<std::optional<document::DocBytes>> replace_document(std::string_view id,
                                                             std::string_view doc);
  // Stores `doc` under `id`, replacing any document there without reading it.
  Status put_document(std::string_view id, std::string_view doc);
  // Removes `id`, handing back the document that was stored under it, if any.
  Result<std::optional<document::DocBytes>> remove_document(std::string_view id);

  // Adds or removes one pair at once.
  Status add_index_entry(std::string_view key, std::string_view id);
  Status remove_index_entry(std::string_view key, std::string_view id);

  // Index upkeep written out later, before the commit: every pair ends as the last change
  // staged for it says, as if each change had been made at once, and the rows go to the
  // store in key order (see IndexChangeSet). A pair the store refuses is dropped.
  void stage_index_change(std::string_view key, std::string_view id, bool adding);
  // Writes the staged changes now; commit() does this first.
  void write_staged_index_changes();

  // True once a statement has failed the transaction, or the store has rolled it back by
  // itself (after which statements would run outside it): a writer stops applying.
  bool failed() const;

  // Writes the staged index changes, then commits; on failure (the transaction's own, or the
  // commit's) the transaction is rolled back and the store's message returned.
  Status commit();

 private:
  explicit WriteTransaction(WriterConnection& writer) : writer_(writer), active_(true) {}
  void add_index_rows(const std::string_view* rows, size_t count);
  // The store's message for a statement that ended with `rc`, recorded as the transaction's
  // failure unless it only refuses a record.
  Err step_failed(int rc);
  // Ok when a statement ran to its end (or gave a row), else step_failed(rc).
  Status finished(int rc);

  WriterConnection& writer_;
  bool active_;
  std::optional<std::string> failure_;
};

}  // namespace quorvane::store
