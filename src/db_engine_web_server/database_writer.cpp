#include "db_engine_web_server/database_writer.h"

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "channel/batch.h"
#include "db_engine_web_server/backup/backup_worker.h"
#include "store/apply_operation.h"
#include "store/write_batch.h"
#include "util/worker_exit.h"

namespace quorvane::db_engine_web_server {

size_t batch_bytes(const WriteOp& op) {
  switch (op.kind) {
    case WriteOp::Kind::Insert:
    case WriteOp::Kind::Upsert:
      return op.id.size() + op.doc.size();
    case WriteOp::Kind::Delete:
      return op.id.size();
    case WriteOp::Kind::Backup:
    case WriteOp::Kind::Shutdown:
      break;
  }
  return 0;
}

void database_writer(channel::Receiver<WriteOp> apply_queue,
                     std::shared_ptr<std::atomic<bool>> worker_alive,
                     std::shared_ptr<std::atomic<size_t>> in_flight,
                     std::shared_ptr<store::Store> db,
                     std::shared_ptr<std::atomic<size_t>> committed_count,
                     std::shared_ptr<lifecycle::CommitFailure> failure) {
  const WorkerExit exit_rule(std::move(worker_alive), [&] {
    apply_queue = channel::Receiver<WriteOp>();
    in_flight.reset();
    db.reset();
    committed_count.reset();
    failure.reset();
  });
  // An operation counts in in_flight from the moment it leaves the apply queue.
  apply_queue.count_held_in(in_flight);
  std::vector<WriteOp> batch;  // freed before the exit rule runs
  batch.reserve(kApplyMaxBatch);
  store::OperationApplier applier;

  for (;;) {
    size_t tally = 0;
    const channel::RecvStatus status =
        channel::receive_batch(apply_queue, std::chrono::milliseconds(10), kApplyMaxBatch, batch,
                               [&tally](const WriteOp& op) {
                                 tally += batch_bytes(op);
                                 return tally >= kApplyMaxBatchBytes;
                               });
    if (status == channel::RecvStatus::Timeout) continue;
    if (status == channel::RecvStatus::Disconnected) return;

    const size_t count = batch.size();
    bool shutdown = false;
    size_t framed = 0;  // inserts, deletes and upserts: the frames written for the batch
    std::optional<std::string> backup_path;  // the target of the batch's last backup
    for (WriteOp& op : batch) {
      if (op.kind == WriteOp::Kind::Shutdown) {
        shutdown = true;
      } else if (op.kind == WriteOp::Kind::Backup) {
        backup_path = std::move(op.id);
      } else if (op.is_framed()) {
        ++framed;
      }
    }

    // A batch that the store rolled back by itself part way fails to commit, and then nothing
    // of it counts as committed.
    std::string error;
    const store::BatchOutcome outcome = store::apply_batch(*db, applier, batch, &error);
    const bool tables_opened =
        outcome == store::BatchOutcome::Committed || outcome == store::BatchOutcome::CommitFailed;
    if (tables_opened && backup_path) {
      if (Status started = backup::spawn_backup_worker(std::move(*backup_path), db); !started) {
        // The batch is no longer held: queue_size must come back to 0, or a caller waiting for
        // it would wait for ever. committed_count is left behind, so the log keeps the batch.
        apply_queue.done(count);
        throw std::runtime_error(started.error());
      }
    }
    if (outcome == store::BatchOutcome::Committed && framed != 0) {
      committed_count->fetch_add(framed, std::memory_order_acq_rel);
    }
    apply_queue.done(count);
    if (outcome != store::BatchOutcome::Committed && framed != 0) {
      failure->record(error);
      return;
    }
    if (shutdown) return;
    batch.clear();
  }
}

}  // namespace quorvane::db_engine_web_server
