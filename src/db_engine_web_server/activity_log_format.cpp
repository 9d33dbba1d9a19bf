#include "db_engine_web_server/activity_log_format.h"

#include <cstdio>
#include <cstdlib>

namespace quorvane::web_server {

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
  const char sign = offset < 0 && minutes != 0 ? '-' : '+';
  n = std::snprintf(text, sizeof text, "%c%02ld:%02ld", sign, minutes / 60, minutes % 60);
  out.append(text, static_cast<size_t>(n));
  return out;
}

void append_json_escaped(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  size_t run_start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.data() + run_start, i - run_start);
    run_start = i + 1;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default: {
        const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out.append(escape, sizeof escape);
      }
    }
  }
  out.append(text.data() + run_start, text.size() - run_start);
}

}  // namespace quorvane::web_server
