// Filling the "{}" placeholders of the system's fixed message texts, in order.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace quorvane {

inline std::string format_message(std::string_view pattern,
                                  std::initializer_list<std::string_view> values) {
  std::string out;
  out.reserve(pattern.size() + 32);
  auto value = values.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '{' && i + 1 < pattern.size() && pattern[i + 1] == '}' &&
        value != values.end()) {
      out.append(value->data(), value->size());
      ++value;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

}  // namespace quorvane
