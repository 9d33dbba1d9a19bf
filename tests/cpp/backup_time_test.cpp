#include "db_engine_web_server/backup/backup_time.h"

#include <gtest/gtest.h>

namespace quorvane::db_engine_web_server::backup {
namespace {

TEST(BackupTime, ParsesHoursAndMinutes) {
  const struct {
    const char* text;
    int hour, minute;
  } cases[] = {
      {"09:00", 9, 0},
      {"23:59", 23, 59},
      {"0:0", 0, 0},
      {"7:05", 7, 5},
      {" 9:30", 9, 30},
      {"09: 5", 9, 5},
      {"\xE3\x80\x80"
       "12:00",
       12, 0},
  };
  for (const auto& c : cases) {
    Result<TimeOfDay> t = parse_backup_time(c.text);
    ASSERT_TRUE(t) << c.text << ": " << t.error();
    EXPECT_EQ(t->hour, c.hour) << c.text;
    EXPECT_EQ(t->minute, c.minute) << c.text;
  }
}

TEST(BackupTime, RefusesWithTheParsersMessage) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"25:00", "input is out of range"},
      {"24:00", "input is out of range"},
      {"12:60", "input is out of range"},
      {"12", "premature end of input"},
      {"", "premature end of input"},
      {"12:", "premature end of input"},
      {"12:30:45", "trailing input"},
      {"12:30 ", "trailing input"},
      {"12:345", "trailing input"},
      {"noon", "input contains invalid characters"},
      {"123:00", "input contains invalid characters"},
      {"12-30", "input contains invalid characters"},
      {"-1:00", "input contains invalid characters"},
      {"12:x0", "input contains invalid characters"},
  };
  for (const auto& c : cases) {
    Result<TimeOfDay> t = parse_backup_time(c.text);
    ASSERT_FALSE(t) << c.text;
    EXPECT_EQ(t.error(), c.error) << c.text;
  }
  EXPECT_EQ(backup_time_error("trailing input"),
            "Invalid backup time provided. Use format HH:MM trailing input");
}

}  // namespace
}  // namespace quorvane::db_engine_web_server::backup
