// The texts of one activity log line: its timestamp and the JSON string form of its values.
//
// A line is {"timestamp": "<timestamp>", "action": "<action>", "id": "<id>"} and a line feed,
// each value in JSON string form (only ids ever hold characters that need an escape).
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace quorvane::web_server {

// The timestamp of a local time: "YYYY-MM-DDTHH:MM:SS", then, when `nanoseconds` is not
// zero, "." and the fraction in 3 digits (a whole number of milliseconds), 6 (a whole number
// of microseconds) or 9, then the offset from UTC (local.tm_gmtoff) as "+HH:MM" or "-HH:MM",
// taken to the nearest minute; an offset that comes to zero is "+00:00". A leap second
// (tm_sec 60) is written as second 60. `nanoseconds` must lie in [0, 999999999].
std::string format_log_timestamp(const std::tm& local, long nanoseconds);

// Appends `text` to `out` as the inside of a JSON string: quotation mark, reverse solidus,
// backspace, tab, line feed, form feed and carriage return become \" \\ \b \t \n \f \r, every
// other byte below 0x20 becomes \u00XX with lower-case hexadecimal digits, and every other
// byte (solidus, DEL and UTF-8 sequences included) is copied unchanged.
void append_json_escaped(std::string& out, std::string_view text);

}  // namespace quorvane::web_server
