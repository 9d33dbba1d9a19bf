#include "db_engine_web_server/activity_log/activity_log_format.h"

#include <cstdio>
#include <cstdlib>

namespace quorvane::db_engine_web_server::activity_log {

std::string format_log_timestamp(const std::tm& local, long nanoseconds) {
  char text[80];
  int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", local.tm_year + 1900,
                        local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  std::string out(text, static_cast<size_t>(n));

  if (nanoseconds != 0) {
    if (nanoseconds % 1'000'000 == 0) {
      n = std::snprintf(text, sizeof text, ".%03ld", nanoseconds / 1'000'000);
    } else if (nanoseconds % 1'000 == 0) {
      n = std::snprintf(text, sizeof text, ".%06ld", nanoseconds / 1'000);
    } else {
      n = std::snprintf(text, sizeof text, ".%09ld", nanoseconds);
    }
    out.append(text, static_cast<size_t>(n));
  }

  const long offset = local.tm_gmtoff;
  const long minutes = (std::labs(offset) + 30) / 60;
  // The sign is the offset's own, taken before the rounding: a zone a few seconds west of
  // UTC is "-00:00", UTC itself "+00:00".
  const char sign = offset < 0 ? '-' : '+';
  n = std::snprintf(text, sizeof text, "%c%02ld:%02ld", sign, minutes / 60, minutes % 60);
  out.append(text, static_cast<size_t>(n));
  return out;
}

}  // namespace quorvane::db_engine_web_server::activity_log
