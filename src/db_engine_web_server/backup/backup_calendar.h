// The calendar of the backup scheduler: when the next scheduled backup runs, how long to sleep
// until then, and the path each run writes to. Pure functions over local wall-clock values;
// only wall_clock_of reads the zone.
//
// A run is at the backup time of day, one calendar month after the day of the run before (the
// day clamped to the end of a shorter month, so a day clamped once stays clamped). The sleep is
// the difference of two local wall-clock values: a change of the zone's offset in between (a
// daylight-saving switch) moves the real wake-up by that change.
#pragma once

#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "util/result.h"

namespace quorvane::db_engine_web_server::backup {

inline constexpr const char* kDateCalculationFailedText = "Date calculation failed";

// A date and time as the local clock shows them.
struct WallClock {
  std::chrono::year_month_day date;
  std::chrono::nanoseconds time_of_day;  // since local midnight; a leap second counts as 60
};

// The wall-clock value of broken-down local fields and the nanoseconds within the second.
WallClock wall_clock_of(const std::tm& local, long nanoseconds);

// The same day of the next month (December goes to January of the next year), clamped to the
// last day of that month. nullopt when the next month lies beyond the calendar's last year.
std::optional<std::chrono::year_month_day> add_one_month(std::chrono::year_month_day date);

// The next run for a clock reading: the reading's date at hour:minute:00, or, when the reading
// is not earlier than that (equal counts as passed), one calendar month later at the same
// time. Fails with kDateCalculationFailedText when the calendar runs out.
Result<WallClock> next_run(const WallClock& reading, int hour, int minute);

// `later` minus `earlier`, both taken as local wall-clock values.
std::chrono::nanoseconds wall_clock_difference(const WallClock& later, const WallClock& earlier);

// "backup_YYYYMMDD_HHMMSS.redb" for broken-down local fields.
std::string backup_file_name(const std::tm& local);

// `dir` and `file_name` joined as a path: one "/" between them, none when `dir` is empty (the
// bare file name) or already ends in "/".
std::string join_backup_path(std::string_view dir, std::string_view file_name);

}  // namespace quorvane::db_engine_web_server::backup
