// The database writer: the thread that applies, in the store, what the WAL writer has framed
// and forwarded on the apply queue.
//
// Each cycle waits up to 10 ms for an operation, then takes what is already queued, up to
// 10000 operations and until the ids and documents taken reach 2 MiB (the operation that
// reaches it is in the batch; Backup and Shutdown weigh nothing). Every operation counts in
// `in_flight` from the moment it leaves the apply queue (the queue adds it under its lock, so
// that queue_size never misses it between the two). Then, in this order:
//  - the shutdown mark is taken;
//  - the batch is applied in one write transaction (inserts, deletes and upserts through
//    store::apply_batch, as DBEngine's write worker applies its own; the last Backup of the
//    batch names the backup to start) and committed; a transaction that cannot be begun, or
//    tables that cannot be opened, apply nothing;
//  - when the transaction and tables opened and the batch asked for a backup, a backup worker
//    is started, whether or not the commit succeeded (a thread that cannot be started is a
//    fault that ends the writer here: `in_flight` shrinks by the batch's size, so that
//    queue_size comes back to 0, and `committed_count` is left as it is);
//  - after a successful commit `committed_count` grows by the batch's inserts, deletes and
//    upserts (the frames the WAL writer wrote for them);
//  - `in_flight` shrinks by the batch's size;
//  - a batch of writes that was not committed (its transaction or tables could not be opened,
//    or the commit failed: a full disk, an I/O error) ends the writer, with the store's
//    message recorded in `failure`: the store keeps a prefix of the writes, and the WAL
//    writer, whose next forward then fails, keeps the rest in the log (wal_writer.h);
//  - a batch that held a WriteOp::Shutdown ends the writer.
// It also ends when the apply queue is disconnected and drained. However it ends, it frees the
// batch, stores false into `worker_alive`, then releases the apply queue and its holders of
// `in_flight`, the store and `committed_count`. Refusals of single records are dropped
// silently; nothing is printed.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

#include "channel/channel.h"
#include "db_engine_web_server/write_op.h"
#include "lifecycle/commit_failure.h"
#include "store/store.h"

namespace quorvane::db_engine_web_server {

inline constexpr size_t kApplyMaxBatch = 10000;
inline constexpr size_t kApplyMaxBatchBytes = size_t{2} * 1024 * 1024;

// The weight of an operation in a batch's byte tally.
size_t batch_bytes(const WriteOp& op);

void database_writer(channel::Receiver<WriteOp> apply_queue,
                     std::shared_ptr<std::atomic<bool>> worker_alive,
                     std::shared_ptr<std::atomic<size_t>> in_flight,
                     std::shared_ptr<store::Store> db,
                     std::shared_ptr<std::atomic<size_t>> committed_count,
                     std::shared_ptr<lifecycle::CommitFailure> failure);

}  // namespace quorvane::db_engine_web_server
