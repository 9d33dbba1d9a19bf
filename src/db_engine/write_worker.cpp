#include "db_engine/write_worker.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "channel/batch.h"
#include "store/apply_operation.h"
#include "store/write_batch.h"
#include "util/worker_exit.h"

namespace quorvane::db_engine {

void write_worker(channel::Receiver<WriteOp> queue, std::shared_ptr<std::atomic<bool>> worker_alive,
                  std::shared_ptr<store::Store> db,
                  std::shared_ptr<lifecycle::CommitFailure> failure) {
  const WorkerExit exit_rule(std::move(worker_alive), [&] {
    queue = channel::Receiver<WriteOp>();  // what is left in it is dropped
    db.reset();
    failure.reset();
  });
  std::vector<WriteOp> batch;  // freed before the exit rule runs
  batch.reserve(kMaxBatch);
  store::OperationApplier applier;

  for (;;) {
    const channel::RecvStatus status =
        channel::receive_batch(queue, std::chrono::milliseconds(10), kMaxBatch, batch);
    if (status == channel::RecvStatus::Timeout) continue;
    if (status == channel::RecvStatus::Disconnected) return;

    const auto is_shutdown = [](const WriteOp& op) { return op.kind == WriteOp::Kind::Shutdown; };
    const bool shutdown = std::any_of(batch.begin(), batch.end(), is_shutdown);
    const bool writes = !std::all_of(batch.begin(), batch.end(), is_shutdown);
    std::string error;
    if (store::apply_batch(*db, applier, batch, &error) != store::BatchOutcome::Committed &&
        writes) {
      failure->record(error);
      return;
    }
    if (shutdown) return;
    batch.clear();
  }
}

}  // namespace quorvane::db_engine
