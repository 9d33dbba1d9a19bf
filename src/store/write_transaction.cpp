#include "store/write_transaction.h"

#include "store/store_internals.h"
#include "store/tables.h"

namespace quorvane::store {

namespace {

// The failures of a statement that refuse one record and leave the transaction sound: a text
// or document beyond the store's limits (bound as NULL when it is beyond SQLite's length,
// which the NOT NULL columns refuse).
bool refuses_record_only(int rc) {
  switch (rc & 0xff) {
    case SQLITE_TOOBIG:
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
    case SQLITE_RANGE:
      return true;
    default:
      return false;
  }
}

}  // namespace

Err WriteTransaction::step_failed(int rc) {
  std::string text = writer_.connection.error_text();
  if (!refuses_record_only(rc) && !failure_) failure_ = text;
  return Err{std::move(text)};
}

Status WriteTransaction::finished(int rc) {
  if (rc == SQLITE_DONE || rc == SQLITE_ROW) return Status::Ok();
  return step_failed(rc);
}

WriteTransaction::~WriteTransaction() {
  if (active_) {
    writer_.staged_index.clear();
    (void)writer_.connection.exec("ROLLBACK");
  }
}

Result<WriteTransaction> WriteTransaction::begin(Store& store) {
  WriterConnection& w = writer_of(store);
  if (Status s = w.connection.exec("BEGIN IMMEDIATE"); !s) return std::move(s).take_error();
  w.staged_index.clear();
  return WriteTransaction(w);
}

Status WriteTransaction::open_tables() { return prepare_table_statements(writer_); }

bool WriteTransaction::failed() const {
  return failure_.has_value() || sqlite3_get_autocommit(writer_.connection.get()) != 0;
}

Result<std::optional<document::DocBytes>> WriteTransaction::replace_document(std::string_view id,
                                                                             std::string_view doc) {
  {
    StatementUse insert(writer_.insert_new);
    insert->bind_text(1, id);
    insert->bind_blob(2, doc);
    const int rc = insert->step();
    if (rc != SQLITE_DONE) return step_failed(rc);
    if (sqlite3_changes(writer_.connection.get()) == 1) return std::optional<document::DocBytes>();
  }
  std::optional<document::DocBytes> old;
  {
    StatementUse select(writer_.select_doc);
    select->bind_text(1, id);
    const int rc = select->step();
    if (rc == SQLITE_ROW) {
      old = document::DocBytes::copy_of(select->column_blob(0));
    } else if (rc != SQLITE_DONE) {
      return step_failed(rc);
    }
  }
  StatementUse update(writer_.update_doc);
  update->bind_text(1, id);
  update->bind_blob(2, doc);
  if (const int rc = update->step(); rc != SQLITE_DONE) return step_failed(rc);
  return old;
}

Status WriteTransaction::put_document(std::string_view id, std::string_view doc) {
  StatementUse put(writer_.put_doc);
  put->bind_text(1, id);
  put->bind_blob(2, doc);
  if (const int rc = put->step(); rc != SQLITE_DONE) return step_failed(rc);
  return Status::Ok();
}

Result<std::optional<document::DocBytes>> WriteTransaction::remove_document(std::string_view id) {
  StatementUse remove(writer_.delete_doc);
  remove->bind_text(1, id);
  int rc = remove->step();
  if (rc == SQLITE_DONE) return std::optional<document::DocBytes>();
  if (rc != SQLITE_ROW) return step_failed(rc);
  std::optional<document::DocBytes> old = document::DocBytes::copy_of(remove->column_blob(0));
  // A RETURNING statement applies its change when it is run to completion.
  rc = remove->step();
  if (rc != SQLITE_DONE) return step_failed(rc);
  return old;
}

Status WriteTransaction::add_index_entry(std::string_view key, std::string_view id) {
  StatementUse add(writer_.index_add);
  add->bind_text(1, key);
  add->bind_text(2, id);
  return finished(add->step());
}

Status WriteTransaction::remove_index_entry(std::string_view key, std::string_view id) {
  StatementUse remove(writer_.index_remove);
  remove->bind_text(1, key);
  remove->bind_text(2, id);
  return finished(remove->step());
}

void WriteTransaction::stage_index_change(std::string_view key, std::string_view id, bool adding) {
  IndexChangeSet& staged = writer_.staged_index;
  if (staged.held_bytes() > writer_.max_staged_index_bytes ||
      staged.change_count() > writer_.max_staged_index_changes) {
    write_staged_index_changes();
  }
  if (staged.set_id(id) && staged.record(key, adding)) return;
  // The set could take no more text: write it out and stage into the emptied set.
  write_staged_index_changes();
  (void)staged.set_id(id);
  (void)staged.record(key, adding);
}

void WriteTransaction::add_index_rows(const std::string_view* rows, size_t count) {
  if (count == static_cast<size_t>(kIndexRowsPerInsert)) {
    StatementUse add(writer_.index_add_rows);
    for (size_t i = 0; i < 2 * count; ++i) add->bind_text(static_cast<int>(i + 1), rows[i]);
    const int rc = add->step();
    if (rc == SQLITE_DONE) return;
    // The statement's rows were undone together; unless that failed the transaction, each
    // pair is tried on its own below, so that one pair's refusal drops only that pair.
    (void)step_failed(rc);
    if (failed()) return;
  }
  for (size_t i = 0; i < count && !failed(); ++i) {
    StatementUse add(writer_.index_add);
    add->bind_text(1, rows[2 * i]);
    add->bind_text(2, rows[2 * i + 1]);
    (void)finished(add->step());
  }
}

void WriteTransaction::write_staged_index_changes() {
  IndexChangeSet& staged = writer_.staged_index;
  if (staged.empty()) return;
  std::string_view rows[2 * kIndexRowsPerInsert];
  size_t pending = 0;
  staged.for_each_net_change([&](std::string_view key, std::string_view id, bool adding) {
    // Once the transaction has failed, nothing more is written: after the store has rolled
    // it back by itself, statements would even run outside it.
    if (failed()) return;
    if (!adding) {
      (void)remove_index_entry(key, id);
      return;
    }
    rows[2 * pending] = key;
    rows[2 * pending + 1] = id;
    if (++pending == static_cast<size_t>(kIndexRowsPerInsert)) {
      add_index_rows(rows, pending);
      pending = 0;
    }
  });
  if (pending > 0 && !failed()) add_index_rows(rows, pending);
  staged.clear();
}

Status WriteTransaction::commit() {
  write_staged_index_changes();
  active_ = false;
  if (failure_) {
    (void)writer_.connection.exec("ROLLBACK");
    return Err{*failure_};
  }
  Status s = writer_.connection.exec("COMMIT");
  if (!s) (void)writer_.connection.exec("ROLLBACK");
  return s;
}

}  // namespace quorvane::store
