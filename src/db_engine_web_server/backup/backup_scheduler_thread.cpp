#include "db_engine_web_server/backup/backup_scheduler_thread.h"

#include <stdexcept>
#include <string>
#include <thread>

#include "db_engine_web_server/backup/backup_calendar.h"
#include "db_engine_web_server/local_time.h"

namespace quorvane::db_engine_web_server::backup {

void backup_scheduler(channel::Sender<WriteOp> queue, std::string_view backup_dir, int hour,
                      int minute) {
  for (;;) {
    const LocalTime reading = local_time_now();
    const WallClock reading_clock = wall_clock_of(reading.fields, reading.nanoseconds);
    Result<WallClock> run = next_run(reading_clock, hour, minute);
    if (!run) throw std::runtime_error(run.error());
    std::this_thread::sleep_for(wall_clock_difference(run.value(), reading_clock));

    const LocalTime woke = local_time_now();
    std::string target = join_backup_path(backup_dir, backup_file_name(woke.fields));
    if (!queue.send(WriteOp::backup(std::move(target)))) return;
  }
}

}  // namespace quorvane::db_engine_web_server::backup
