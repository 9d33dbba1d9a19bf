#include "store/tables.h"

#include <string>

namespace quorvane::store {

namespace {

std::string multi_row_insert_sql() {
  std::string sql = "INSERT OR IGNORE INTO metadata_index(key, id) VALUES(?, ?)";
  for (int i = 1; i < kIndexRowsPerInsert; ++i) sql += ",(?, ?)";
  return sql;
}

}  // namespace

Status create_missing_tables(WriterConnection& writer) {
  Connection& c = writer.connection;
  Status s = c.exec(
      "CREATE TABLE IF NOT EXISTS documents ("
      "id TEXT NOT NULL PRIMARY KEY, doc BLOB NOT NULL) WITHOUT ROWID");
  if (s) {
    s = c.exec(
        "CREATE TABLE IF NOT EXISTS metadata_index ("
        "key TEXT NOT NULL, id TEXT NOT NULL, PRIMARY KEY (key, id)) WITHOUT ROWID");
  }
  return s;
}

Status prepare_table_statements(WriterConnection& writer) {
  if (writer.tables_open) return Status::Ok();
  Connection& c = writer.connection;
  // "documents" first, then "metadata_index"; both are tried before the outcome is looked at.
  Status documents = prepare_once(c, writer.insert_new,
                                  "INSERT INTO documents(id, doc) VALUES(?1, ?2) "
                                  "ON CONFLICT(id) DO NOTHING");
  if (documents) {
    documents = prepare_once(c, writer.select_doc, "SELECT doc FROM documents WHERE id = ?1");
  }
  if (documents) {
    documents = prepare_once(c, writer.update_doc, "UPDATE documents SET doc = ?2 WHERE id = ?1");
  }
  if (documents) {
    documents =
        prepare_once(c, writer.delete_doc, "DELETE FROM documents WHERE id = ?1 RETURNING doc");
  }
  if (documents) {
    documents =
        prepare_once(c, writer.put_doc, "INSERT OR REPLACE INTO documents(id, doc) VALUES(?1, ?2)");
  }
  Status index = prepare_once(c, writer.index_add,
                              "INSERT OR IGNORE INTO metadata_index(key, id) VALUES(?1, ?2)");
  if (index) index = prepare_once(c, writer.index_add_rows, multi_row_insert_sql());
  if (index) {
    index = prepare_once(c, writer.index_remove,
                         "DELETE FROM metadata_index WHERE key = ?1 AND id = ?2");
  }
  if (!documents) return documents;
  if (!index) return index;
  writer.tables_open = true;
  return Status::Ok();
}

}  // namespace quorvane::store
