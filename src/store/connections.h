// The store's connections and the statements each keeps for its life: private to the store
// layer (src/store/). Only the store's own units reach them, through store_internals.h.
#pragma once

#include <cstddef>

#include "store/index_changes.h"
#include "store/sqlite_handle.h"

namespace quorvane::store {

// The writer connection with the statements a write transaction uses, prepared when the
// tables are first opened (tables.h) and kept for the connection's life. One thread at a time
// uses it: the constructor, then the writer thread.
struct WriterConnection {
  Connection connection;
  bool tables_open = false;
  Statement insert_new;         // stores a document under an id not stored yet
  Statement select_doc;         // the stored document of an id
  Statement update_doc;         // replaces the document of a stored id
  Statement delete_doc;         // removes an id, giving back its document
  Statement put_doc;            // stores a document, replacing any
  Statement index_add;          // adds one (key, id) pair
  Statement index_add_rows;     // adds kIndexRowsPerInsert pairs
  Statement index_remove;       // removes one (key, id) pair
  IndexChangeSet staged_index;  // the open transaction's index changes not written yet
  // Staged changes are written out before more are staged once they hold more text or more
  // changes than this, so that a huge batch or document does not hold its whole index in
  // memory. Only tests change them (store/testing.h).
  size_t max_staged_index_bytes = size_t{64} << 20;
  size_t max_staged_index_changes = size_t{4} << 20;
};

// A read connection with its statements, each prepared on its first use (prepare_once).
struct ReaderConnection {
  Connection connection;
  Statement get_doc;
  Statement scan_from;
  Statement index_matches;
  Statement index_page;
  Statement all_documents;
  Statement all_index_entries;
  Statement snapshot_read;  // the read with which a ReadSnapshot takes its snapshot at once
};

}  // namespace quorvane::store
