#include "db_engine_web_server/backup_scheduler.h"

namespace quorvane::web_server {

// Placeholder until scheduled backups land: schedules nothing.
void backup_scheduler(channel::Sender<WriteOp> queue, std::string backup_dir, int hour,
                      int minute) {
  (void)queue;
  (void)backup_dir;
  (void)hour;
  (void)minute;
}

}  // namespace quorvane::web_server
