#include "db_engine_web_server/backup_worker.h"

namespace quorvane::web_server {

// Placeholder until the backup copy lands: accepts the request and copies nothing.
Status spawn_backup_worker(std::string target_path, std::shared_ptr<store::Store> db) {
  (void)target_path;
  (void)db;
  return Status::Ok();
}

}  // namespace quorvane::web_server
