#include "db_engine_web_server/backup/backup_calendar.h"

#include <gtest/gtest.h>

#include "db_engine_web_server/local_time.h"
#include "test_support.h"

namespace quorvane::db_engine_web_server::backup {
namespace {

namespace chr = std::chrono;

chr::year_month_day ymd(int y, unsigned m, unsigned d) {
  return chr::year_month_day{chr::year{y}, chr::month{m}, chr::day{d}};
}

WallClock at(int y, unsigned m, unsigned d, int hour, int minute, int second = 0,
             long nanoseconds = 0) {
  return WallClock{ymd(y, m, d), chr::hours{hour} + chr::minutes{minute} + chr::seconds{second} +
                                     chr::nanoseconds{nanoseconds}};
}

TEST(BackupCalendar, OneMonthLaterWithTheDayClamped) {
  const std::pair<chr::year_month_day, chr::year_month_day> cases[] = {
      {ymd(2025, 1, 31), ymd(2025, 2, 28)},  {ymd(2024, 1, 31), ymd(2024, 2, 29)},
      {ymd(2025, 2, 28), ymd(2025, 3, 28)},  {ymd(2024, 2, 29), ymd(2024, 3, 29)},
      {ymd(2025, 3, 31), ymd(2025, 4, 30)},  {ymd(2025, 12, 15), ymd(2026, 1, 15)},
      {ymd(2025, 12, 31), ymd(2026, 1, 31)}, {ymd(2100, 1, 31), ymd(2100, 2, 28)},
      {ymd(2000, 1, 30), ymd(2000, 2, 29)},  {ymd(32767, 11, 30), ymd(32767, 12, 30)},
  };
  for (const auto& [from, to] : cases) {
    const std::optional<chr::year_month_day> next = add_one_month(from);
    ASSERT_TRUE(next.has_value()) << static_cast<int>(from.year());
    EXPECT_EQ(*next, to) << static_cast<int>(from.year()) << "-" << unsigned(from.month()) << "-"
                         << unsigned(from.day());
  }
  EXPECT_FALSE(add_one_month(ymd(32767, 12, 1)).has_value());
}

TEST(BackupCalendar, NextRunIsTodayWhileAheadElseOneMonthLater) {
  struct Case {
    WallClock reading;
    WallClock expected;
  };
  const Case cases[] = {
      {at(2025, 3, 14, 8, 59, 30), at(2025, 3, 14, 9, 0)},
      {at(2025, 3, 14, 0, 0), at(2025, 3, 14, 9, 0)},
      // Equality counts as passed.
      {at(2025, 3, 14, 9, 0), at(2025, 4, 14, 9, 0)},
      {at(2025, 3, 14, 9, 0, 0, 1), at(2025, 4, 14, 9, 0)},
      {at(2025, 1, 31, 10, 0), at(2025, 2, 28, 9, 0)},
      {at(2024, 1, 31, 10, 0), at(2024, 2, 29, 9, 0)},
      // The run after a clamped one stays on the clamped day.
      {at(2025, 2, 28, 9, 0, 0, 500), at(2025, 3, 28, 9, 0)},
      {at(2025, 12, 15, 10, 0), at(2026, 1, 15, 9, 0)},
      // A leap second reading.
      {at(2016, 12, 31, 23, 59, 60), at(2017, 1, 31, 9, 0)},
  };
  for (const Case& c : cases) {
    Result<WallClock> run = next_run(c.reading, 9, 0);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->date, c.expected.date);
    EXPECT_EQ(run->time_of_day, c.expected.time_of_day);
  }
  EXPECT_EQ(wall_clock_difference(next_run(at(2025, 3, 14, 8, 59, 30), 9, 0).value(),
                                  at(2025, 3, 14, 8, 59, 30)),
            chr::seconds{30});
  EXPECT_EQ(
      wall_clock_difference(next_run(at(2025, 1, 31, 10, 0), 9, 0).value(), at(2025, 1, 31, 10, 0)),
      chr::days{28} - chr::hours{1});

  Result<WallClock> out_of_calendar = next_run(at(32767, 12, 15, 10, 0), 9, 0);
  ASSERT_FALSE(out_of_calendar);
  EXPECT_EQ(out_of_calendar.error(), "Date calculation failed");
  std::tm far{};
  far.tm_year = 40000 - 1900;
  far.tm_mday = 1;
  EXPECT_FALSE(next_run(wall_clock_of(far, 0), 9, 0));
}

// When the scheduler wakes (seconds since the epoch) after a clock reading at `reading`.
time_t wake_after(time_t reading, int hour, int minute) {
  const LocalTime local = local_time_at(timespec{reading, 0});
  const WallClock clock = wall_clock_of(local.fields, local.nanoseconds);
  const chr::nanoseconds sleep =
      wall_clock_difference(next_run(clock, hour, minute).value(), clock);
  return reading + chr::duration_cast<chr::seconds>(sleep).count();
}

TEST(BackupCalendar, ASwitchToSummerTimeMakesTheRunAnHourLate) {
  testing::ScopedTimeZone zone("Europe/Berlin");
  // 2025-03-29T20:00:00+01:00; summer time starts the next night.
  const time_t first = wake_after(1743274800, 9, 0);
  const LocalTime first_local = local_time_at(timespec{first, 0});
  EXPECT_EQ(backup_file_name(first_local.fields), "backup_20250429_100000.redb");
  EXPECT_EQ(first_local.fields.tm_gmtoff, 7200);

  // No further switch: the run after it is back at 09:00.
  const time_t second = wake_after(first, 9, 0);
  EXPECT_EQ(backup_file_name(local_time_at(timespec{second, 0}).fields),
            "backup_20250529_090000.redb");
}

TEST(BackupCalendar, FileNamesAndJoining) {
  std::tm tm{};
  tm.tm_year = 2025 - 1900;
  tm.tm_mon = 2;
  tm.tm_mday = 4;
  tm.tm_hour = 9;
  tm.tm_min = 5;
  tm.tm_sec = 7;
  const std::string name = backup_file_name(tm);
  EXPECT_EQ(name, "backup_20250304_090507.redb");
  const std::pair<const char*, std::string> cases[] = {
      {"/srv/backups", "/srv/backups/" + name},
      {"/srv/backups/", "/srv/backups/" + name},
      {"relative", "relative/" + name},
      {"/", "/" + name},
      {"", name},
  };
  for (const auto& [dir, expected] : cases) EXPECT_EQ(join_backup_path(dir, name), expected);
}

}  // namespace
}  // namespace quorvane::db_engine_web_server::backup
