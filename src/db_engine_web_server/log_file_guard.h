// Keeping a server's log files off every store's database.
//
// The write-ahead log and the activity log are files that the server opens by name, next to
// its database. A name can lead to any file (a symbolic or hard link, a store that another
// instance has open), and replay reads, empties and the writers append to whatever it
// reaches. So a log file is refused, before it is read, emptied or written, when it is:
//  - a file this process holds as a store (the server's own database included) or as another
//    log, answered from the lock registry without opening the file;
//  - a file another process holds with a store's lock (flock);
//  - a file that begins with the SQLite database header (a database that is not open).
// While a log is held, its file is locked and entered in the registry like a store's
// database, so that no store, of this process or another, opens it meanwhile (Store::open
// then fails with "Database already open. Cannot acquire lock.").
//
// The refusal, one template for both logs:
//   "Refusing to use {path} as the {write-ahead log|activity log}: {reason}"
// with the path as the server builds it (links not followed) and the reason "it is a database
// file" or "it is held by a database or another log".
#pragma once

#include <string>
#include <string_view>

#include "store/file_lock.h"
#include "util/file.h"
#include "util/result.h"

namespace quorvane::db_engine_web_server {

enum class LogKind { WriteAhead, Activity };

// Looks at the file at `path` without changing it, before the log is touched: fails with the
// refusal when it is one of the files above. A missing file, one that cannot be looked at and
// one that is not a regular file pass: opening the log fails later as it did before.
Status check_log_path(const std::string& path, LogKind kind);

// A log file held by its reader or writer: locked and in the registry while `claim` lives.
struct ClaimedLog {
  store::FileLock claim;  // owns the locked descriptor
  UniqueFd file;          // a second descriptor of the same open file, to read and write with;
                          // to be closed before `claim` is released
};

// Claims `file`, which the log's reader or writer has just opened at `path`: the checks of
// check_log_path() made again on the descriptor itself, so that a file put at `path` between
// the check and the open is refused all the same. The header can only be checked on a
// readable descriptor. Fails with the refusal, or with `open_error_prefix` followed by the
// system's error text when the descriptor cannot be locked or duplicated; `file` is then
// closed, unless this process holds it as a store (see store::FileLock::claim).
Result<ClaimedLog> claim_log(UniqueFd file, const std::string& path, LogKind kind,
                             std::string_view open_error_prefix);

}  // namespace quorvane::db_engine_web_server
