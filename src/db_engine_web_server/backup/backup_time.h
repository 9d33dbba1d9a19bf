// The backup time of day: "HH:MM" parsed as the time parser reads the format "%H:%M".
//
// Hour and minute are each one or two ASCII digits, leading white space before either number
// is skipped, and they are separated by exactly ":"; the hour is 0 to 23 and the minute 0 to
// 59. A text that does not parse fails with the parser's message:
//   "input is out of range"              a number beyond its field ("25:00", "12:60")
//   "premature end of input"             the text stops early ("", "12", "12:")
//   "trailing input"                     something follows the minute ("12:30:45", "12:30 ")
//   "input contains invalid characters"  anything else ("noon", "12-30", "-1:00")
#pragma once

#include <string>
#include <string_view>

#include "util/result.h"

namespace quorvane::db_engine_web_server::backup {

struct TimeOfDay {
  int hour = 0;
  int minute = 0;
};

Result<TimeOfDay> parse_backup_time(std::string_view text);

// "Invalid backup time provided. Use format HH:MM {}" with the parser's message.
std::string backup_time_error(std::string_view parser_message);

}  // namespace quorvane::db_engine_web_server::backup
