#include "db_engine_web_server/backup/backup_calendar.h"

#include <cstdio>

namespace quorvane::db_engine_web_server::backup {

namespace chr = std::chrono;

WallClock wall_clock_of(const std::tm& local, long nanoseconds) {
  // std::chrono::year holds -32767 to 32767; a year outside gives a date that is not ok().
  const int year = local.tm_year + 1900;
  const chr::year calendar_year =
      year < -32767 || year > 32767 ? chr::year{-32768} : chr::year{year};
  const chr::year_month_day date{calendar_year, chr::month{static_cast<unsigned>(local.tm_mon + 1)},
                                 chr::day{static_cast<unsigned>(local.tm_mday)}};
  const chr::nanoseconds time = chr::hours{local.tm_hour} + chr::minutes{local.tm_min} +
                                chr::seconds{local.tm_sec} + chr::nanoseconds{nanoseconds};
  return WallClock{date, time};
}

std::optional<chr::year_month_day> add_one_month(chr::year_month_day date) {
  const chr::year_month next = chr::year_month{date.year(), date.month()} + chr::months{1};
  if (!next.ok()) return std::nullopt;
  const chr::day last =
      chr::year_month_day_last{next.year(), chr::month_day_last{next.month()}}.day();
  return chr::year_month_day{next.year(), next.month(), date.day() < last ? date.day() : last};
}

Result<WallClock> next_run(const WallClock& reading, int hour, int minute) {
  if (!reading.date.ok()) return Err{kDateCalculationFailedText};
  WallClock run{reading.date, chr::hours{hour} + chr::minutes{minute}};
  if (reading.time_of_day >= run.time_of_day) {
    std::optional<chr::year_month_day> next_month = add_one_month(run.date);
    if (!next_month) return Err{kDateCalculationFailedText};
    run.date = *next_month;
  }
  return run;
}

chr::nanoseconds wall_clock_difference(const WallClock& later, const WallClock& earlier) {
  return (chr::sys_days{later.date} - chr::sys_days{earlier.date}) + later.time_of_day -
         earlier.time_of_day;
}

std::string backup_file_name(const std::tm& local) {
  char name[96];
  const int n = std::snprintf(name, sizeof name, "backup_%04d%02d%02d_%02d%02d%02d.redb",
                              local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                              local.tm_min, local.tm_sec);
  return std::string(name, static_cast<size_t>(n));
}

std::string join_backup_path(std::string_view dir, std::string_view file_name) {
  std::string path(dir);
  if (!path.empty() && path.back() != '/') path += '/';
  path.append(file_name.data(), file_name.size());
  return path;
}

}  // namespace quorvane::db_engine_web_server::backup
