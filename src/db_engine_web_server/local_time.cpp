#include "db_engine_web_server/local_time.h"

namespace quorvane::db_engine_web_server {

LocalTime local_time_at(const timespec& at) {
  LocalTime local;
  localtime_r(&at.tv_sec, &local.fields);
  local.nanoseconds = at.tv_nsec;
  return local;
}

LocalTime local_time_now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return local_time_at(now);
}

}  // namespace quorvane::db_engine_web_server
