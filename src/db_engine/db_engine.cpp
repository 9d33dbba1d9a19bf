#include "db_engine/db_engine.h"

#include <stdexcept>

#include "db_engine/write_worker.h"
#include "lifecycle/exit_commit.h"
#include "util/format.h"

namespace quorvane::db_engine {

DBEngine::~DBEngine() {
  db_.reset();
  write_queue_ = channel::Sender<WriteOp>();
  worker_handle_.reset();
  worker_alive_.reset();
  failure_.reset();
}

Result<DBEngine> DBEngine::open(const std::string& path) {
  Result<std::shared_ptr<store::Store>> db = store::Store::open(path);
  if (!db) return std::move(db).take_error();
  if (Status s = db.value()->ensure_tables(); !s) return std::move(s).take_error();

  auto queue = channel::bounded<WriteOp>(kWriteQueueCapacity);
  auto alive = std::make_shared<std::atomic<bool>>(true);
  auto failure = std::make_shared<lifecycle::CommitFailure>();
  Result<JoinHandle> worker = spawn_thread(
      [receiver = std::move(queue.receiver), alive, db = db.value(), failure]() mutable {
        write_worker(std::move(receiver), std::move(alive), std::move(db), std::move(failure));
      });
  if (!worker) throw std::runtime_error(worker.error());
  lifecycle::register_writers(
      {{{[closer = queue.sender.closer()] { closer.close(); }, worker->watch()}},
       failure,
       [path = db.value()->path()](std::string_view message) {
         return format_message("DBEngine {}: {}",
                               {path, lifecycle::writes_not_committed_text(message)});
       }});
  return DBEngine(std::move(db).value(), std::move(queue.sender), std::move(worker).value(),
                  std::move(alive), std::move(failure));
}

Status DBEngine::close_engine() {
  // The shutdown is refused once the worker has ended. The first call after the worker stopped
  // at a batch it could not commit, or after the commit at the interpreter's end closed the
  // queue (a __del__ or an exit handler may close the instance after it), still ends as a
  // first call does; any other refusal is a second call.
  if (!write_queue_.send(WriteOp::shutdown()) &&
      !(worker_handle_ && (failure_->message() || write_queue_.closed()))) {
    return Err{std::string("Failed to send shutdown signal ") + channel::kDisconnectedText};
  }
  if (!worker_handle_) return Status::Ok();
  JoinHandle worker = std::move(*worker_handle_);
  worker_handle_.reset();
  if (!worker.join()) return Err{"Background writer panicked during shut down {}"};
  if (std::optional<std::string> failed = failure_->message()) {
    (void)failure_->take();  // told: the exit prints it no more
    return Err{lifecycle::writes_not_committed_text(*failed)};
  }
  return Status::Ok();
}

}  // namespace quorvane::db_engine
