// The timestamp of an activity log line. A line is
// {"timestamp": "<timestamp>", "action": "<action>", "id": "<id>"} and a line feed, each value
// in JSON string form as stored documents write strings (document/string_escape.h); only ids
// ever hold characters that need an escape.
#pragma once

#include <ctime>
#include <string>

namespace quorvane::db_engine_web_server::activity_log {

// The timestamp of a local time: "YYYY-MM-DDTHH:MM:SS", then, when `nanoseconds` is not
// zero, "." and the fraction in 3 digits (a whole number of milliseconds), 6 (a whole number
// of microseconds) or 9, then the offset from UTC (local.tm_gmtoff) as "+HH:MM" or "-HH:MM",
// taken to the nearest minute; an offset that comes to zero is "+00:00". A leap second
// (tm_sec 60) is written as second 60. `nanoseconds` must lie in [0, 999999999].
std::string format_log_timestamp(const std::tm& local, long nanoseconds);

}  // namespace quorvane::db_engine_web_server::activity_log
