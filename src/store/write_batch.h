// Running one batch of a writer thread in one write transaction, with the outcomes the
// writers tell apart:
//   NotBegun      the transaction could not be begun: nothing applied, nothing committed;
//   TablesFailed  a table could not be opened: nothing applied, an empty transaction
//                 committed (its outcome dropped);
//   Committed / CommitFailed  the operations were applied and the commit tried.
#pragma once

#include "store/write_transaction.h"

namespace quorvane::store {

enum class BatchOutcome { NotBegun, TablesFailed, Committed, CommitFailed };

// `apply(WriteTransaction&)` applies the batch's operations.
template <class Apply>
BatchOutcome run_write_batch(Store& store, Apply&& apply) {
  Result<WriteTransaction> txn = WriteTransaction::begin(store);
  if (!txn) return BatchOutcome::NotBegun;
  if (!txn->open_tables()) {
    (void)txn->commit();
    return BatchOutcome::TablesFailed;
  }
  apply(txn.value());
  return txn->commit() ? BatchOutcome::Committed : BatchOutcome::CommitFailed;
}

}  // namespace quorvane::store
