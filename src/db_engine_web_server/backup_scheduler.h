// The backup scheduler: a detached thread that posts WriteOp::Backup on the write queue at
// the backup time of day (`hour`:`minute`, local time), one calendar month apart, targeting a
// file named after the time of the run in `backup_dir`. It ends when a send fails.
#pragma once

#include <string>

#include "channel/channel.h"
#include "db_engine_web_server/write_op.h"

namespace quorvane::web_server {

void backup_scheduler(channel::Sender<WriteOp> queue, std::string backup_dir, int hour, int minute);

}  // namespace quorvane::web_server
