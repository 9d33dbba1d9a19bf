#include "store/read_snapshot.h"

namespace quorvane::store {

ReadSnapshot::~ReadSnapshot() {
  if (active_) (void)reader_.connection.exec("ROLLBACK");
}

Status ReadSnapshot::begin(Taken when) {
  if (Status s = reader_.connection.exec("BEGIN"); !s) return s;
  active_ = true;
  // A deferred transaction takes its snapshot at its first read.
  if (when == Taken::AtFirstRead) return Status::Ok();
  if (Status s = prepare_once(reader_.connection, reader_.snapshot_read,
                              "SELECT count(*) FROM sqlite_master");
      !s) {
    return s;
  }
  StatementUse read(reader_.snapshot_read);
  if (read->step() != SQLITE_ROW) return Err{reader_.connection.error_text()};
  return Status::Ok();
}

Status ReadSnapshot::end() {
  active_ = false;
  Status s = reader_.connection.exec("COMMIT");
  if (!s) (void)reader_.connection.exec("ROLLBACK");
  return s;
}

}  // namespace quorvane::store
