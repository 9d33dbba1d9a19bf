#include "db_engine/write_worker.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "channel/batch.h"
#include "store/apply_operation.h"
#include "store/write_batch.h"

namespace quorvane::db_engine {

namespace {

// The order in which the worker lets go of what it holds, on every way out.
struct WorkerEnd {
  std::vector<WriteOp>& batch;
  std::atomic<bool>& worker_alive;
  channel::Receiver<WriteOp>& queue;
  std::shared_ptr<store::Store>& db;
  ~WorkerEnd() {
    batch = std::vector<WriteOp>();
    worker_alive.store(false, std::memory_order_release);
    queue = channel::Receiver<WriteOp>();
    db.reset();
  }
};

}  // namespace

void write_worker(channel::Receiver<WriteOp> queue, std::shared_ptr<std::atomic<bool>> worker_alive,
                  std::shared_ptr<store::Store> db) {
  std::vector<WriteOp> batch;
  batch.reserve(kMaxBatch);
  std::shared_ptr<std::atomic<bool>> alive = worker_alive;
  WorkerEnd end{batch, *alive, queue, db};
  store::OperationApplier applier;

  for (;;) {
    const channel::RecvStatus status =
        channel::receive_batch(queue, std::chrono::milliseconds(10), kMaxBatch, batch);
    if (status == channel::RecvStatus::Timeout) continue;
    if (status == channel::RecvStatus::Disconnected) return;

    const bool shutdown = std::any_of(batch.begin(), batch.end(), [](const WriteOp& op) {
      return op.kind == WriteOp::Kind::Shutdown;
    });
    (void)store::run_write_batch(*db, [&](store::WriteTransaction& txn) {
      for (WriteOp& op : batch) {
        if (!txn.still_open()) break;
        if (op.kind == WriteOp::Kind::Shutdown) continue;
        (void)applier.apply(txn, store::op_kind_of(op.kind), op.id, &op.doc);
      }
    });
    if (shutdown) return;
    batch.clear();
  }
}

}  // namespace quorvane::db_engine
