// DBEngine's background write worker: the one thread that applies the write queue.
//
// Each cycle waits up to 10 ms for an operation, then takes what is already queued, up to
// 10000 operations in all, and applies them in order in one write transaction. A batch that
// holds a shutdown operation (marked before the transaction is begun) ends the worker after
// it; so does a disconnected queue. However it ends, the worker stores false in
// `worker_alive`, then releases the queue (dropping what is left in it) and then its holder
// of the store. Errors are dropped without a message.
#pragma once

#include <atomic>
#include <memory>

#include "channel/channel.h"
#include "db_engine/write_op.h"
#include "store/store.h"

namespace quorvane::db_engine {

inline constexpr size_t kWriteQueueCapacity = 10000;
inline constexpr size_t kMaxBatch = 10000;

void write_worker(channel::Receiver<WriteOp> queue, std::shared_ptr<std::atomic<bool>> worker_alive,
                  std::shared_ptr<store::Store> db);

}  // namespace quorvane::db_engine
