#include "db_engine_web_server/db_engine_web_server.h"

#include <stdexcept>

#include "db_engine_web_server/activity_log/log_writer.h"
#include "db_engine_web_server/backup/backup_scheduler_thread.h"
#include "db_engine_web_server/backup/backup_time.h"
#include "db_engine_web_server/database_writer.h"
#include "db_engine_web_server/log_file_guard.h"
#include "db_engine_web_server/wal_replay.h"
#include "db_engine_web_server/wal_writer.h"
#include "lifecycle/exit_commit.h"
#include "util/format.h"

namespace quorvane::db_engine_web_server {

namespace {

// Starts a thread or fails with a fault ("failed to spawn thread: ...").
template <class Body>
JoinHandle start_thread(Body body) {
  Result<JoinHandle> thread = spawn_thread(std::move(body));
  if (!thread) throw std::runtime_error(thread.error());
  return std::move(thread).value();
}

void join_ignoring_outcome(std::optional<JoinHandle>& handle) {
  if (!handle) return;
  JoinHandle thread = std::move(*handle);
  handle.reset();
  (void)thread.join();
}

}  // namespace

DBEngineWebServer::~DBEngineWebServer() {
  db_.reset();
  write_queue_ = channel::Sender<WriteOp>();
  apply_queue_ = channel::Sender<WriteOp>();
  wal_writer_handle_.reset();
  database_writer_handle_.reset();
  worker_alive_.reset();
  log_queue_.reset();
  log_writer_handle_.reset();
  in_flight_.reset();
  wal_batch_.reset();
}

Result<DBEngineWebServer> DBEngineWebServer::open(const std::string& path,
                                                  const std::optional<std::string>& backup_time,
                                                  const std::optional<std::string>& backup_dir,
                                                  bool enable_logging) {
  Result<std::shared_ptr<store::Store>> opened = store::Store::open(path);
  if (!opened) return std::move(opened).take_error();
  std::shared_ptr<store::Store> db = std::move(opened).value();
  // Named after the store's absolute path, so that a thread opening one later reaches the
  // file next to the database whatever the working directory has become.
  const std::string wal_path = db->path() + ".wal";
  const std::string activity_log_path = db->path() + ".jsonl";
  // Both logs are looked at before anything is written, so that a construction refused for
  // either changes no file.
  if (Status s = check_log_path(wal_path, LogKind::WriteAhead); !s) {
    return std::move(s).take_error();
  }
  if (enable_logging) {
    if (Status s = check_log_path(activity_log_path, LogKind::Activity); !s) {
      return std::move(s).take_error();
    }
  }
  if (Status s = db->ensure_tables(); !s) return std::move(s).take_error();
  if (Status s = recover_wal_on_startup(*db, wal_path); !s) return std::move(s).take_error();
  Result<ClaimedLog> wal = open_wal_log(wal_path);
  if (!wal) return std::move(wal).take_error();

  DBEngineWebServer server;
  server.db_ = db;
  auto apply = channel::bounded<WriteOp>(kQueueCapacity);
  server.apply_queue_ = apply.sender;
  auto write = channel::bounded<WriteOp>(kQueueCapacity);
  server.write_queue_ = std::move(write.sender);
  server.worker_alive_ = std::make_shared<std::atomic<bool>>(true);
  server.in_flight_ = std::make_shared<std::atomic<size_t>>(0);
  server.wal_batch_ = std::make_shared<std::atomic<size_t>>(0);
  write.receiver.count_held_in(server.wal_batch_);
  auto committed_count = std::make_shared<std::atomic<size_t>>(0);
  auto failure = std::make_shared<lifecycle::CommitFailure>();

  server.wal_writer_handle_ = start_thread(
      [apply_tx = std::move(apply.sender), write_rx = std::move(write.receiver),
       wal = std::move(wal).value(), alive = server.worker_alive_, committed_count]() mutable {
        wal_writer(std::move(apply_tx), std::move(write_rx), std::move(wal), alive,
                   committed_count);
      });
  server.database_writer_handle_ =
      start_thread([apply_rx = std::move(apply.receiver), alive = server.worker_alive_,
                    in_flight = server.in_flight_, db, committed_count, failure]() mutable {
        database_writer(std::move(apply_rx), alive, in_flight, db, committed_count, failure);
      });
  db.reset();

  if (backup_time && backup_dir) {
    channel::Sender<WriteOp> scheduler_queue = server.write_queue_;
    Result<backup::TimeOfDay> time = backup::parse_backup_time(*backup_time);
    if (!time) {
      // Both writers are running already: disconnect their queues and wait for them, so that
      // the store is closed again when the constructor fails.
      scheduler_queue = channel::Sender<WriteOp>();
      server.write_queue_ = channel::Sender<WriteOp>();
      server.apply_queue_ = channel::Sender<WriteOp>();
      join_ignoring_outcome(server.wal_writer_handle_);
      join_ignoring_outcome(server.database_writer_handle_);
      return Err{backup::backup_time_error(time.error())};
    }
    start_thread([queue = std::move(scheduler_queue), dir = *backup_dir,
                  at = time.value()]() mutable {
      backup::backup_scheduler(std::move(queue), dir, at.hour, at.minute);
    }).detach();
  }

  if (enable_logging) {
    auto log = channel::bounded<activity_log::LogOp>(kQueueCapacity);
    server.log_queue_ = std::move(log.sender);
    server.log_writer_handle_ =
        start_thread([log_rx = std::move(log.receiver), log_path = activity_log_path,
                      alive = server.worker_alive_]() mutable {
          activity_log::log_writer(std::move(log_rx), log_path, alive);
        });
  }
  server.register_for_exit(std::move(failure), wal_path);
  return Result<DBEngineWebServer>(std::move(server));
}

void DBEngineWebServer::register_for_exit(std::shared_ptr<lifecycle::CommitFailure> failure,
                                          const std::string& wal_path) const {
  lifecycle::InstanceWriters writers;
  writers.stages.push_back(
      {[closer = write_queue_.closer()] { closer.close(); }, wal_writer_handle_->watch()});
  // Ends once the WAL writer has forwarded (or dropped) its last operation.
  writers.stages.push_back({{}, database_writer_handle_->watch()});
  if (log_queue_) {
    writers.stages.push_back(
        {[closer = log_queue_->closer()] { closer.close(); }, log_writer_handle_->watch()});
  }
  writers.failure = std::move(failure);
  writers.failure_line = [path = db_->path(), wal_path](std::string_view message) {
    return format_message(
        "DBEngineWebServer {}: {}; the write-ahead log {} keeps them for the next "
        "construction to replay",
        {path, lifecycle::writes_not_committed_text(message), wal_path});
  };
  lifecycle::register_writers(std::move(writers));
}

void DBEngineWebServer::close_engine() {
  (void)write_queue_.send(WriteOp::shutdown());
  join_ignoring_outcome(wal_writer_handle_);
  join_ignoring_outcome(database_writer_handle_);
  if (log_queue_) (void)log_queue_->send(activity_log::LogOp::shutdown());
  join_ignoring_outcome(log_writer_handle_);
}

size_t DBEngineWebServer::queue_size() const {
  // Read in the order in which an operation passes the stages: each counts it before the one
  // it leaves stops counting it, so an operation on its way is never missed.
  size_t total = write_queue_.len();
  total += wal_batch_->load(std::memory_order_acquire);
  total += apply_queue_.len();
  return total + in_flight_->load(std::memory_order_acquire);
}

}  // namespace quorvane::db_engine_web_server
