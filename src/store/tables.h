// The two tables on the writer connection: creating the missing ones, and opening them, which
// is preparing the statements a write transaction runs on them. Private to the store layer.
#pragma once

#include "store/connections.h"
#include "util/result.h"

namespace quorvane::store {

// Index rows per multi-row INSERT: one statement step stores this many pairs.
inline constexpr int kIndexRowsPerInsert = 64;

// Creates whichever of the two tables is missing, inside the writer's open transaction.
Status create_missing_tables(WriterConnection& writer);

// Prepares, once per connection, the statements a write transaction uses on both tables: the
// step in which the tables are opened. Fails with the store's message when a table is missing
// or has another shape.
Status prepare_table_statements(WriterConnection& writer);

}  // namespace quorvane::store
