// Replaying the write-ahead log left by an earlier run, at construction, before any thread of
// the instance starts.
//
// recover_wal_on_startup() applies every complete frame of the log at `wal_path`, in order,
// in one write transaction of `db` (inserts, deletes and upserts with the upkeep of the
// metadata index, as the writer threads apply them), commits, empties the log and prints
// "WAL Recover: Successfully written all records to database!". No log file: success at once,
// nothing printed, nothing created. Lines printed on standard output along the way:
//   "WAL Recovery: Found incomplete frame at EOF. Discarding partial write"  (the log ends
//       inside a header)
//   "WAL Recovery: Missing data for frame, discarding write!"  (it ends inside an id or a
//       payload, or a header declares more bytes than the log holds)
//   "Op type is different, skipping this operation {}"  (an op byte other than 1, 2 or 3)
//   "Failed to insert id {}. Skipping. Error {}"  (the store refused an inserted document)
// Ids are decoded as UTF-8 with invalid sequences replaced by U+FFFD; payloads are stored
// byte for byte.
//
// The log is held while it is replayed (claim_log, log_file_guard.h). Fails with "Failed to
// open WAL file {}" (the log cannot be opened, or is not a regular file), the guard's refusal
// (the log's file is a database, or held), "WAL read error {}", or the store's message (beginning
// the transaction, opening the tables, the commit); then nothing of the replay is stored and the
// log is left as it was. A log that cannot be emptied after the commit is a fault (throws
// std::runtime_error).
#pragma once

#include <string>

#include "store/store.h"
#include "util/result.h"

namespace quorvane::db_engine_web_server {

Status recover_wal_on_startup(store::Store& db, const std::string& wal_path);

}  // namespace quorvane::db_engine_web_server
