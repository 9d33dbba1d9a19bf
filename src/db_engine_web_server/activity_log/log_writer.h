// The log writer: the background thread that owns the activity log file and appends one JSON
// line per logged document id, in the order in which the entries entered the log queue.
//
// It touches no Python object and never takes the interpreter lock.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "channel/channel.h"
#include "db_engine_web_server/activity_log/log_op.h"

namespace quorvane::db_engine_web_server::activity_log {

// The thread body. Opens `path` for appending (created when missing, never truncated) and
// holds it until it ends (claim_log, log_file_guard.h: a database file, or one that is held,
// is refused like a file that cannot be opened), then
// takes entries from `queue` until LogOp::Shutdown or the queue is disconnected: a Single
// entry gives one line, a Batch one line per id, every line of an entry with the timestamp of
// one clock reading taken when the entry was taken. Lines gather in an 8192-byte buffer that
// is written out only when full and at the end. At the end the rest is written out, the file
// closed, and `worker_alive` stored false (release), however the thread ends.
//
// Faults (thrown, so the thread's fault report goes to standard error): the file cannot be
// opened (the writer ends before it takes any entry), or a write fails (the buffered rest is
// tried once more and the file closed on the way out).
void log_writer(channel::Receiver<LogOp> queue, const std::string& path,
                std::shared_ptr<std::atomic<bool>> worker_alive);

}  // namespace quorvane::db_engine_web_server::activity_log
