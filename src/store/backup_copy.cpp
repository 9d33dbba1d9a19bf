#include "store/backup_copy.h"

#include <utility>

#include "store/read_snapshot.h"
#include "store/store_internals.h"
#include "store/tables.h"
#include "store/write_transaction.h"

namespace quorvane::store {

namespace {

// Runs `rows` to its end, handing every row to `copy_row`, which returns a Status.
template <class CopyRow>
Status copy_rows(Statement& rows, CopyRow&& copy_row) {
  StatementUse use(rows);
  for (;;) {
    const int rc = use->step();
    if (rc == SQLITE_DONE) return Status::Ok();
    if (rc != SQLITE_ROW) return Err{rows.error_text()};
    if (Status s = copy_row(rows); !s) return s;
  }
}

Status copy_tables(ReaderConnection& reader, WriteTransaction& txn) {
  if (Status s = txn.open_tables(); !s) return s;
  if (Status s = prepare_once(reader.connection, reader.all_documents,
                              "SELECT id, doc FROM documents ORDER BY id");
      !s) {
    return s;
  }
  if (Status s = prepare_once(reader.connection, reader.all_index_entries,
                              "SELECT key, id FROM metadata_index ORDER BY key, id");
      !s) {
    return s;
  }
  Status documents = copy_rows(reader.all_documents, [&](Statement& row) {
    return txn.put_document(row.column_text(0), row.column_blob(1));
  });
  if (!documents) return documents;
  return copy_rows(reader.all_index_entries, [&](Statement& row) {
    return txn.add_index_entry(row.column_text(0), row.column_text(1));
  });
}

}  // namespace

BackupResult copy_snapshot_into(Store& live, Store& target) {
  Result<WriteTransaction> txn = WriteTransaction::begin(target);
  if (!txn) return {BackupOutcome::TargetNotBegun, txn.error()};
  // Made inside the backup's own transaction; a failure shows again, with its message, when
  // the copy opens the tables.
  (void)create_missing_tables(writer_of(target));

  Result<ReadLease> lease = lease_reader(live);
  if (!lease) return {BackupOutcome::SnapshotNotBegun, lease.error()};
  ReadSnapshot snapshot(**lease);
  if (Status s = snapshot.begin(ReadSnapshot::Taken::AtBegin); !s)
    return {BackupOutcome::SnapshotNotBegun, s.error()};

  // On an error the transaction is rolled back when `txn` is released.
  if (Status s = copy_tables(**lease, txn.value()); !s) {
    return {BackupOutcome::CommitFailed, s.error()};
  }
  if (Status s = txn->commit(); !s) return {BackupOutcome::CommitFailed, s.error()};
  return {BackupOutcome::Committed, {}};
}

BackupResult back_up_store(Store& live, const std::string& target_path) {
  Result<std::shared_ptr<Store>> target = Store::open(target_path);
  if (!target) return {BackupOutcome::TargetNotOpened, target.error()};
  return copy_snapshot_into(live, *target.value());
}

}  // namespace quorvane::store
