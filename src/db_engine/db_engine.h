// DBEngine: the plain document store. One database file, one write queue (10000 operations)
// and one background write worker that applies it. Write methods validate and encode on the
// caller's thread and queue; reads go to the store directly.
//
// Fields are released in declaration order: the store handle (the store closes now only if
// the worker has ended), the queue's only sending end (the worker drains what is queued and
// ends), the worker's join handle (a running worker is left on its own), the alive flag, the
// worker's failure.
//
// Every instance registers its worker for the commit at the interpreter's exit
// (lifecycle/exit_commit.h), which closes the write queue and waits for the worker, whether
// the instance is still referenced or was released with the worker draining.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "channel/channel.h"
#include "db_engine/write_op.h"
#include "lifecycle/commit_failure.h"
#include "store/store.h"
#include "util/result.h"
#include "util/thread.h"

namespace quorvane::db_engine {

class DBEngine {
 public:
  DBEngine(DBEngine&&) noexcept = default;
  DBEngine& operator=(DBEngine&&) = delete;
  DBEngine(const DBEngine&) = delete;
  DBEngine& operator=(const DBEngine&) = delete;
  ~DBEngine();

  // Opens or creates the store at `path`, makes sure of both tables and starts the worker.
  // Fails with the store's message; a thread that cannot be started is a fault (throws).
  static Result<DBEngine> open(const std::string& path);

  // Sends the shutdown operation and waits for the worker. Fails with
  // "Failed to send shutdown signal sending on a disconnected channel" once the worker has
  // ended (a second call), or "Background writer panicked during shut down {}" when it ended
  // by a fault. When the worker has stopped at a batch it could not commit, before the call or
  // during it, the first call fails with lifecycle::writes_not_committed_text of the store's
  // message instead. The first call after the commit at the interpreter's end (which closed
  // the queue and waited for the worker) ends as any first call does.
  Status close_engine();

  bool worker_alive() const { return worker_alive_->load(std::memory_order_acquire); }
  // Blocking send; false once the worker has gone.
  bool send(WriteOp op) { return write_queue_.send(std::move(op)); }

  const std::shared_ptr<store::Store>& db_handle() const { return db_; }

 private:
  DBEngine(std::shared_ptr<store::Store> db, channel::Sender<WriteOp> write_queue,
           JoinHandle worker, std::shared_ptr<std::atomic<bool>> worker_alive,
           std::shared_ptr<lifecycle::CommitFailure> failure)
      : db_(std::move(db)),
        write_queue_(std::move(write_queue)),
        worker_handle_(std::move(worker)),
        worker_alive_(std::move(worker_alive)),
        failure_(std::move(failure)) {}

  std::shared_ptr<store::Store> db_;
  channel::Sender<WriteOp> write_queue_;
  std::optional<JoinHandle> worker_handle_;
  std::shared_ptr<std::atomic<bool>> worker_alive_;
  std::shared_ptr<lifecycle::CommitFailure> failure_;
};

}  // namespace quorvane::db_engine
