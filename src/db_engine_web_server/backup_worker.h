// The backup worker: a short-lived, detached thread that copies both tables of the live store,
// from one read snapshot, into the backup database at a target path (created when missing,
// merged into when it exists). It reports only by lines on standard output and standard error.
#pragma once

#include <memory>
#include <string>

#include "store/store.h"
#include "util/result.h"

namespace quorvane::web_server {

// Starts the worker on a new detached thread holding its own share of the store. Fails with
// "failed to spawn thread: <system error>" when the thread cannot be started.
Status spawn_backup_worker(std::string target_path, std::shared_ptr<store::Store> db);

}  // namespace quorvane::web_server
