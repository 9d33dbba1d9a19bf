// Reading the system's real-time clock in the process's local time zone (TZ, else the
// system's zone file), for the activity log's timestamps and the backup schedule.
#pragma once

#include <time.h>

#include <ctime>

namespace quorvane::db_engine_web_server {

// One reading of the clock as the local zone shows it. `fields` holds the broken-down local
// date and time, its offset from UTC in tm_gmtoff; `nanoseconds` is the part of the second
// (0 to 999999999).
struct LocalTime {
  std::tm fields{};
  long nanoseconds = 0;
};

// The local time of the instant `at`. The zone is read from TZ on first use; a later change
// of TZ takes effect once tzset() has been called (Python's time.tzset() calls it). The
// environment is not read again here: another thread may be changing it.
LocalTime local_time_at(const timespec& at);

// The local time now: one reading of CLOCK_REALTIME.
LocalTime local_time_now();

}  // namespace quorvane::db_engine_web_server
