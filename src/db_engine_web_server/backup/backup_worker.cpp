#include "db_engine_web_server/backup/backup_worker.h"

#include "lifecycle/exit_commit.h"
#include "store/backup_copy.h"
#include "util/console.h"
#include "util/format.h"
#include "util/thread.h"

namespace quorvane::db_engine_web_server::backup {

namespace {

const char* failure_pattern(store::BackupOutcome outcome) {
  switch (outcome) {
    case store::BackupOutcome::TargetNotOpened:
      return "Failed to create backup database: {}";
    case store::BackupOutcome::TargetNotBegun:
      return "Failed to begin write on backup db: {}";
    case store::BackupOutcome::SnapshotNotBegun:
      return "Failed to begin read on source db: {}";
    case store::BackupOutcome::CommitFailed:
    case store::BackupOutcome::Committed:
      break;
  }
  return "Failed to commit backup database: {}";
}

}  // namespace

void backup_worker(const std::string& target_path, std::shared_ptr<store::Store> db) {
  print_stdout_line("Starting logical database backup in background...");
  const store::BackupResult result = store::back_up_store(*db, target_path);
  db.reset();
  if (result.outcome == store::BackupOutcome::Committed) {
    print_stdout_line(format_message("Database backup is successful to {}", {target_path}));
  } else {
    print_stderr_line(format_message(failure_pattern(result.outcome), {result.error}));
  }
}

Status spawn_backup_worker(std::string target_path, std::shared_ptr<store::Store> db) {
  // Counted from before it starts until it has printed its outcome: the commit at the
  // interpreter's exit waits for it.
  lifecycle::BackgroundTask task;
  Result<JoinHandle> worker = spawn_thread(
      [target_path = std::move(target_path), db = std::move(db), task = std::move(task)]() mutable {
        backup_worker(target_path, std::move(db));
      });
  if (!worker) return std::move(worker).take_error();
  worker->detach();
  return Status::Ok();
}

}  // namespace quorvane::db_engine_web_server::backup
