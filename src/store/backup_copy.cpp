#include "store/backup_copy.h"

#include <utility>

#include "store/write_transaction.h"

namespace quorvane::store {

namespace {

// A read transaction on a leased connection: BEGIN, a first read (which takes the snapshot),
// and COMMIT when released.
class ReadSnapshot {
 public:
  explicit ReadSnapshot(ReaderConnection& reader) : reader_(reader) {}
  ReadSnapshot(const ReadSnapshot&) = delete;
  ReadSnapshot& operator=(const ReadSnapshot&) = delete;
  ~ReadSnapshot() {
    if (active_) (void)reader_.connection.exec("COMMIT");
  }

  Status begin() {
    if (Status s = reader_.connection.exec("BEGIN"); !s) return s;
    active_ = true;
    // A deferred transaction takes its snapshot at its first read.
    return reader_.connection.exec("SELECT count(*) FROM sqlite_master");
  }

 private:
  ReaderConnection& reader_;
  bool active_ = false;
};

Status prepare_once(ReaderConnection& reader, Statement& statement, const char* sql) {
  if (statement) return Status::Ok();
  Result<Statement> prepared = Statement::prepare(reader.connection.get(), sql);
  if (!prepared) return std::move(prepared).take_error();
  statement = std::move(prepared).value();
  return Status::Ok();
}

// Runs `rows` to its end, handing every row to `copy_row`, which returns a Status.
template <class CopyRow>
Status copy_rows(ReaderConnection& reader, Statement& rows, CopyRow&& copy_row) {
  StatementUse use(rows);
  for (;;) {
    const int rc = use->step();
    if (rc == SQLITE_DONE) return Status::Ok();
    if (rc != SQLITE_ROW) return Err{reader.connection.error_text()};
    if (Status s = copy_row(rows); !s) return s;
  }
}

Status copy_tables(ReaderConnection& reader, WriteTransaction& txn) {
  if (Status s = txn.open_tables(); !s) return s;
  if (Status s =
          prepare_once(reader, reader.all_documents, "SELECT id, doc FROM documents ORDER BY id");
      !s) {
    return s;
  }
  if (Status s = prepare_once(reader, reader.all_index_entries,
                              "SELECT key, id FROM metadata_index ORDER BY key, id");
      !s) {
    return s;
  }
  Status documents = copy_rows(reader, reader.all_documents, [&](Statement& row) {
    return txn.put_document(row.column_text(0), row.column_blob(1));
  });
  if (!documents) return documents;
  return copy_rows(reader, reader.all_index_entries, [&](Statement& row) {
    return txn.add_index_entry(row.column_text(0), row.column_text(1));
  });
}

}  // namespace

BackupResult copy_snapshot_into(Store& live, Store& target) {
  Result<WriteTransaction> txn = WriteTransaction::begin(target);
  if (!txn) return {BackupOutcome::TargetNotBegun, txn.error()};
  // Made inside the backup's own transaction; a failure shows again, with its message, when
  // the copy opens the tables.
  (void)target.create_missing_tables();

  Result<ReadLease> lease = live.lease_reader();
  if (!lease) return {BackupOutcome::SnapshotNotBegun, lease.error()};
  ReadSnapshot snapshot(**lease);
  if (Status s = snapshot.begin(); !s) return {BackupOutcome::SnapshotNotBegun, s.error()};

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
