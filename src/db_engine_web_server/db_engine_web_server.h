// DBEngineWebServer: the document store with a write-ahead log. Every write goes through the
// write queue to the WAL writer, which frames it into the log (the database path with ".wal"
// added) and forwards it on the apply queue to the database writer, which applies it in the
// store. Optional: a log writer for the activity log (".jsonl"), fed through the log queue,
// and a backup scheduler, which posts backups on the write queue.
//
// Fields are released in declaration order: the store handle (the store stays open while the
// database writer or a backup worker holds it), the write queue's sending end (unless a
// backup scheduler holds another, the WAL writer then forwards what is queued and ends), the
// apply queue's second sending end (the database writer then applies what is forwarded and
// ends), the join handles (running threads are left on their own), the alive flag, the log
// queue (the log writer writes what is queued and ends), the log writer's handle, the counters.
//
// Every instance registers its writers for the commit at the interpreter's exit
// (lifecycle/exit_commit.h), which closes the write queue, waits for the WAL writer and then
// the database writer, closes the log queue and waits for the log writer: the same sequence
// as close_engine, whether the instance is still referenced or was released with its writers
// draining (or kept running by a backup scheduler's sending end).
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "channel/channel.h"
#include "db_engine_web_server/activity_log/log_op.h"
#include "db_engine_web_server/write_op.h"
#include "lifecycle/commit_failure.h"
#include "store/store.h"
#include "util/result.h"
#include "util/thread.h"

namespace quorvane::db_engine_web_server {

inline constexpr size_t kQueueCapacity = 10000;

class DBEngineWebServer {
 public:
  DBEngineWebServer(DBEngineWebServer&&) noexcept = default;
  DBEngineWebServer& operator=(DBEngineWebServer&&) = delete;
  DBEngineWebServer(const DBEngineWebServer&) = delete;
  DBEngineWebServer& operator=(const DBEngineWebServer&) = delete;
  ~DBEngineWebServer();

  // Opens or creates the store at `path`, makes sure of both tables, replays the log left by
  // an earlier run, then starts the WAL writer, the database writer, the backup scheduler
  // (only when `backup_time` and `backup_dir` are both given) and the log writer (only when
  // `enable_logging`). Fails with the store's message, a refusal of either log's file
  // (log_file_guard.h; checked before the tables are made sure of or the log replayed), the
  // replay's error, or "Invalid backup time provided. Use format HH:MM {}" (the two writers,
  // already started, are then ended and joined, so the store is closed again on return). A thread
  // that cannot be started, or a log that cannot be emptied after replay, is a fault (throws).
  static Result<DBEngineWebServer> open(const std::string& path,
                                        const std::optional<std::string>& backup_time,
                                        const std::optional<std::string>& backup_dir,
                                        bool enable_logging);

  // Sends WriteOp::Shutdown and waits for the WAL writer, then the database writer; then
  // sends LogOp::Shutdown and waits for the log writer. Every failure is ignored, so a second
  // call does nothing. The store stays open until the instance is released.
  void close_engine();

  // Operations waiting in the write queue and the apply queue plus those the WAL writer and
  // the database writer hold in their batches: 0 only once every write sent has been handled.
  size_t queue_size() const;

  bool worker_alive() const { return worker_alive_->load(std::memory_order_acquire); }
  // Whether the activity log is kept: the log queue exists only then.
  bool enable_logging() const { return log_queue_.has_value(); }
  // Blocking send on the write queue; false once the WAL writer has gone.
  bool send(WriteOp op) { return write_queue_.send(std::move(op)); }
  // One more sending end of the write queue, for a caller that sends without the GIL and so
  // without touching the instance. Releasing it never disconnects the queue.
  channel::Sender<WriteOp> write_sender() const { return write_queue_; }
  // One more sending end of the log queue (none when logging is off), for a caller that offers
  // entries without the GIL. Releasing it never disconnects the queue.
  std::optional<channel::Sender<activity_log::LogOp>> log_sender() const { return log_queue_; }
  // Offers an activity log entry without blocking; it is lost when the queue is full, the log
  // writer has gone or logging is off.
  void offer_log(activity_log::LogOp op) {
    if (log_queue_) (void)log_queue_->try_send(std::move(op));
  }
  const std::shared_ptr<store::Store>& db_handle() const { return db_; }

 private:
  DBEngineWebServer() = default;
  void register_for_exit(std::shared_ptr<lifecycle::CommitFailure> failure,
                         const std::string& wal_path) const;

  std::shared_ptr<store::Store> db_;
  channel::Sender<WriteOp> write_queue_;
  channel::Sender<WriteOp> apply_queue_;
  std::optional<JoinHandle> wal_writer_handle_;
  std::optional<JoinHandle> database_writer_handle_;
  std::shared_ptr<std::atomic<bool>> worker_alive_;
  std::optional<channel::Sender<activity_log::LogOp>> log_queue_;
  std::optional<JoinHandle> log_writer_handle_;
  std::shared_ptr<std::atomic<size_t>> in_flight_;
  // The operations of the WAL writer's batch in hand, taken but not yet forwarded.
  std::shared_ptr<std::atomic<size_t>> wal_batch_;
};

}  // namespace quorvane::db_engine_web_server
