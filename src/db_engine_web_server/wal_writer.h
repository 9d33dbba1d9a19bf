// The WAL writer: the first of the two threads every write of a DBEngineWebServer passes
// through. It frames each insert, delete and upsert into the write-ahead log, writes each
// batch out to the file, and only then forwards the batch's operations, in order, to the
// database writer on the apply queue.
//
//  - The log is opened by open_wal_log() before the writer starts, so that a construction
//    whose log cannot be opened fails instead of accepting writes that no thread would keep:
//    at `wal_path`, for reading and writing (created when missing, never truncated on open,
//    not in append mode), and held (claim_log, log_file_guard.h: a file that turns out to be
//    a database, or held, is refused like a log that cannot be opened). The writer holds it
//    for its life, behind a 128 KiB buffer.
//  - A batch is what is already queued, up to 5000 operations, ending early after a
//    WriteOp::Shutdown. Its frames are written out once (no sync), then every operation is
//    forwarded with a blocking send. When the write queue's receiving end counts what it
//    holds (channel::Receiver::count_held_in), the batch counts there from the moment it
//    leaves the queue until every operation of it is on the apply queue (or dropped).
//  - Emptying: when the write queue has been idle for 5 ms and the frames written since the
//    log was last emptied equal `committed_count` (which the database writer raises after each
//    commit), the log is truncated to 0, writing goes back to offset 0, and `committed_count`
//    and the frame count are set back to 0.
//  - It ends after forwarding a WriteOp::Shutdown, when the write queue is disconnected and
//    drained, or with a fault on any I/O error of the log (the batch in hand is then not
//    forwarded). When a forwarding send fails (the database writer has stopped, at a batch
//    it could not commit), it closes the write queue, so that no write is accepted any more,
//    frames what the queue still holds, and ends: every write that was accepted is then in
//    the log, which is not emptied, for the next construction to replay.
//  - On every end: what is buffered is written out (an error ignored) and the file closed and
//    let go; `worker_alive` is stored false; the write queue is released (what is queued is
//    dropped); unless a WriteOp::Shutdown went ahead already, one is forwarded, best effort,
//    so that the database writer ends once it has applied what it was given; then the apply
//    queue's sending end is released.
//  - An operation too large to frame (an id or document of 4 GiB or more, which the store
//    could not hold anyway) is dropped unframed and not forwarded.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

#include "channel/channel.h"
#include "db_engine_web_server/log_file_guard.h"
#include "db_engine_web_server/write_op.h"
#include "util/result.h"

namespace quorvane::db_engine_web_server {

inline constexpr size_t kWalBufferSize = size_t{128} * 1024;
inline constexpr size_t kWalMaxBatch = 5000;

// Fails with "write-ahead log I/O error: {system error}", or with the refusal of claim_log().
Result<ClaimedLog> open_wal_log(const std::string& wal_path);

void wal_writer(channel::Sender<WriteOp> apply_queue, channel::Receiver<WriteOp> write_queue,
                ClaimedLog wal, std::shared_ptr<std::atomic<bool>> worker_alive,
                const std::shared_ptr<std::atomic<size_t>>& committed_count);

}  // namespace quorvane::db_engine_web_server
