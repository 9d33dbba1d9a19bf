// Running one batch of a writer thread in one write transaction, with the outcomes the
// writers tell apart:
//   NotBegun      the transaction could not be begun: nothing applied, nothing committed;
//   TablesFailed  a table could not be opened: nothing applied, an empty transaction
//                 committed (its outcome dropped);
//   Committed / CommitFailed  the operations were applied and the commit tried. A batch that
//                 met a failure of the store part way (write_transaction.h) is rolled back
//                 whole: CommitFailed.
// Every outcome but Committed leaves the batch unapplied; `*error`, when given, then receives
// the store's message.
//
// apply_batch() is how both writer threads (DBEngine's write worker and DBEngineWebServer's
// database writer) apply the batch they took off their queue.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "store/apply_operation.h"
#include "store/write_transaction.h"

namespace quorvane::store {

enum class BatchOutcome { NotBegun, TablesFailed, Committed, CommitFailed };

// `apply(WriteTransaction&)` applies the batch's operations.
template <class Apply>
BatchOutcome run_write_batch(Store& store, Apply&& apply, std::string* error = nullptr) {
  const auto failed = [error](BatchOutcome outcome, std::string message) {
    if (error) *error = std::move(message);
    return outcome;
  };
  Result<WriteTransaction> txn = WriteTransaction::begin(store);
  if (!txn) return failed(BatchOutcome::NotBegun, txn.error());
  if (Status s = txn->open_tables(); !s) {
    (void)txn->commit();
    return failed(BatchOutcome::TablesFailed, s.error());
  }
  apply(txn.value());
  if (Status s = txn->commit(); !s) return failed(BatchOutcome::CommitFailed, s.error());
  return BatchOutcome::Committed;
}

// Runs `batch` as above, applying its entries one after another in their order, each as
// apply_operation.h says: an entry of kind Insert, Delete or Upsert is applied with its id and
// document (which the index walk may overwrite); any other entry (a shutdown, a backup) is
// passed over. Once the transaction has failed, nothing more is applied, and the commit then
// fails. `Op` is a writer's queue entry with `kind`, `id` and `doc`.
template <class Op>
BatchOutcome apply_batch(Store& store, OperationApplier& applier, std::vector<Op>& batch,
                         std::string* error = nullptr) {
  return run_write_batch(
      store,
      [&](WriteTransaction& txn) {
        for (Op& op : batch) {
          if (txn.failed()) break;
          if (const std::optional<OpKind> kind = store_op_kind(op.kind)) {
            (void)applier.apply(txn, *kind, op.id, &op.doc);
          }
        }
      },
      error);
}

}  // namespace quorvane::store
