// Backing up a store: both tables of the live store, as one read snapshot shows them, copied
// into the store at a target path (created when missing; an existing one is merged into:
// documents with the same id are replaced, index entries are added to those already there,
// and entries the snapshot lacks stay). Entries are copied byte for byte, stale index entries
// included; nothing is encoded or indexed anew.
//
// The target is opened with Store::open, lock registry included, so the live store's own file
// (or a target another backup still writes) is refused without being touched: the live file is
// never opened through a second descriptor, whose closing would drop this process's locks.
#pragma once

#include <string>

#include "store/store.h"

namespace quorvane::store {

// How a backup ended; `error` holds the store's message for every outcome but Committed.
enum class BackupOutcome {
  Committed,
  TargetNotOpened,   // the target store could not be opened or created
  TargetNotBegun,    // its write transaction could not begin
  SnapshotNotBegun,  // the read snapshot of the live store could not begin
  CommitFailed,      // the copy or its commit failed: nothing of this backup is in the target
};

struct BackupResult {
  BackupOutcome outcome;
  std::string error;
};

// Opens the target store, makes sure its tables exist (a failure there is left to the copy
// to meet), begins its write transaction, then (only then) begins the snapshot of `live`,
// copies "documents" in ascending id order (INSERT OR REPLACE) and "metadata_index" in
// ascending (key, id) order (INSERT OR IGNORE), and commits. A copy that meets an error (a
// row of the snapshot that cannot be read, an entry the target refuses) is not committed:
// it ends as CommitFailed with that error, so a backup is never reported complete when it is
// not. The target is closed, and its lock released, before this returns.
BackupResult back_up_store(Store& live, const std::string& target_path);

// The copy itself, into an open target store.
BackupResult copy_snapshot_into(Store& live, Store& target);

}  // namespace quorvane::store
