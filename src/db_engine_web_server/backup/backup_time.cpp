#include "db_engine_web_server/backup/backup_time.h"

#include <cstdint>

#include "util/format.h"

namespace quorvane::db_engine_web_server::backup {

namespace {

constexpr const char* kOutOfRange = "input is out of range";
constexpr const char* kTooShort = "premature end of input";
constexpr const char* kTooLong = "trailing input";
constexpr const char* kInvalid = "input contains invalid characters";

bool is_white_space(uint32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// Decodes the UTF-8 character at the front of `s` (which is valid UTF-8); its byte length.
size_t front_char(std::string_view s, uint32_t& c) {
  const auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(s[i])); };
  const uint32_t lead = b(0);
  size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (n > s.size()) n = 1;
  c = n == 1 ? lead : lead & (0x7F >> n);
  for (size_t i = 1; i < n; ++i) c = (c << 6) | (b(i) & 0x3F);
  return n;
}

void skip_white_space(std::string_view& s) {
  while (!s.empty()) {
    uint32_t c = 0;
    const size_t n = front_char(s, c);
    if (!is_white_space(c)) return;
    s.remove_prefix(n);
  }
}

// One to two digits, after white space; `max` bounds the value.
Result<int> number(std::string_view& s, int max) {
  skip_white_space(s);
  if (s.empty()) return Err{kTooShort};
  int value = 0;
  size_t digits = 0;
  while (digits < 2 && digits < s.size() && s[digits] >= '0' && s[digits] <= '9') {
    value = value * 10 + (s[digits] - '0');
    ++digits;
  }
  if (digits == 0) return Err{kInvalid};
  s.remove_prefix(digits);
  if (value > max) return Err{kOutOfRange};
  return value;
}

}  // namespace

Result<TimeOfDay> parse_backup_time(std::string_view text) {
  std::string_view s = text;
  Result<int> hour = number(s, 23);
  if (!hour) return std::move(hour).take_error();
  if (s.empty()) return Err{kTooShort};
  if (s.front() != ':') return Err{kInvalid};
  s.remove_prefix(1);
  Result<int> minute = number(s, 59);
  if (!minute) return std::move(minute).take_error();
  if (!s.empty()) return Err{kTooLong};
  return TimeOfDay{hour.value(), minute.value()};
}

std::string backup_time_error(std::string_view parser_message) {
  return format_message("Invalid backup time provided. Use format HH:MM {}", {parser_message});
}

}  // namespace quorvane::db_engine_web_server::backup
