// DBEngine's background write worker: the one thread that applies the write queue.
//
// Each cycle waits up to 10 ms for an operation, then takes what is already queued, up to
// 10000 operations in all, and applies them in order in one write transaction. A batch that
// holds a shutdown operation (marked before the transaction is begun) ends the worker after
// it; so does a disconnected queue. A batch of writes that the store does not take whole (its
// transaction cannot be begun, its tables cannot be opened, its commit fails: a full disk, an
// I/O error) ends the worker too, with the store's message recorded in `failure`: the batch
// and everything queued behind it stay unapplied, so the store keeps holding what was
// accepted up to some point, in order, and never a later write without an earlier one.
// However it ends, the worker stores false in `worker_alive`, then releases the queue
// (dropping what is left in it) and then its holder of the store. Nothing is printed.
#pragma once

#include <atomic>
#include <memory>

#include "channel/channel.h"
#include "db_engine/write_op.h"
#include "lifecycle/commit_failure.h"
#include "store/store.h"

namespace quorvane::db_engine {

inline constexpr size_t kWriteQueueCapacity = 10000;
inline constexpr size_t kMaxBatch = 10000;

void write_worker(channel::Receiver<WriteOp> queue, std::shared_ptr<std::atomic<bool>> worker_alive,
                  std::shared_ptr<store::Store> db,
                  std::shared_ptr<lifecycle::CommitFailure> failure);

}  // namespace quorvane::db_engine
