// The backup worker: a short-lived, detached thread that copies both tables of the live store,
// from one read snapshot, into the backup database at a target path (created when missing,
// merged into when it exists). It reports only by lines on standard output and standard error.
//
// It touches no Python object and never takes the interpreter lock.
#pragma once

#include <memory>
#include <string>

#include "store/store.h"
#include "util/result.h"

namespace quorvane::db_engine_web_server::backup {

// Starts the worker on a new detached thread holding its own share of the store; the commit at
// the interpreter's exit waits for it (lifecycle::BackgroundTask). Fails with
// "failed to spawn thread: <system error>" when the thread cannot be started.
Status spawn_backup_worker(std::string target_path, std::shared_ptr<store::Store> db);

// The thread body, run on the calling thread. Prints
//   "Starting logical database backup in background...\n" on standard output, first;
// then exactly one of
//   "Failed to create backup database: {}\n"       (standard error)
//   "Failed to begin write on backup db: {}\n"     (standard error)
//   "Failed to begin read on source db: {}\n"      (standard error)
//   "Failed to commit backup database: {}\n"       (standard error)
//   "Database backup is successful to {}\n"        (standard output; {} is the target path)
// each line written and flushed in one write. The outcome line comes once the backup database
// is closed and `db` released, so whoever reads it may open either file at once.
void backup_worker(const std::string& target_path, std::shared_ptr<store::Store> db);

}  // namespace quorvane::db_engine_web_server::backup
