// The log writer: the thread that owns the activity log (the database path with ".jsonl"
// added) and appends one JSON line per logged document id, taking LogOp entries from the log
// queue until LogOp::Shutdown or until the queue is disconnected and drained. However it ends,
// it stores false into `worker_alive` (release ordering) before it releases the queue.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "channel/channel.h"
#include "db_engine_web_server/log_op.h"

namespace quorvane::web_server {

void log_writer(channel::Receiver<LogOp> queue, std::string path,
                std::shared_ptr<std::atomic<bool>> worker_alive);

}  // namespace quorvane::web_server
