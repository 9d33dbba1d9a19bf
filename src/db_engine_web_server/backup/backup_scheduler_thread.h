// The backup scheduler: a detached background thread that posts a backup of the store on the
// write queue at a local time of day, one calendar month apart.
//
// It touches no Python object and never takes the interpreter lock.
#pragma once

#include <string_view>

#include "channel/channel.h"
#include "db_engine_web_server/write_op.h"

namespace quorvane::db_engine_web_server::backup {

// The thread body. Repeats until a send fails: reads the local clock once, takes as the next
// run today at hour:minute, or one calendar month later when that moment has already come
// (equal counts as passed), sleeps for the wall-clock difference, then sends
// WriteOp::backup(backup_dir joined with "backup_YYYYMMDD_HHMMSS.redb" for the local time of
// waking) with a blocking send. Ends when the send fails (the write queue's receiver is gone).
// Fault (thrown): "Date calculation failed" when the calendar runs out.
void backup_scheduler(channel::Sender<WriteOp> queue, std::string_view backup_dir, int hour,
                      int minute);

}  // namespace quorvane::db_engine_web_server::backup
