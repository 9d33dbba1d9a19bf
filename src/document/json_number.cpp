#include "document/json_number.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

namespace quorvane::document {

namespace {

// The decimal exponent of the first significant digit of a number literal whose value is not
// zero (saturating far beyond any double's range). Only its sign is looked at.
int64_t leading_exponent(const char* p, const char* end) {
  if (*p == '-') ++p;
  const char* q = p;
  while (q < end && is_digit(*q)) ++q;
  int64_t position = (q - p) - 1;  // the exponent of the digit looked at
  int64_t exponent = 0;
  bool found = false;
  for (const char* r = p; r < end && *r != 'e' && *r != 'E'; ++r) {
    if (*r == '.') continue;
    if (*r != '0') {
      found = true;
      break;
    }
    --position;
  }
  if (!found) return 0;
  const char* e = p;
  while (e < end && *e != 'e' && *e != 'E') ++e;
  if (e < end) {
    ++e;
    const bool negative = *e == '-';
    if (*e == '+' || *e == '-') ++e;
    for (; e < end; ++e) {
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (*e - '0');
    }
    if (negative) exponent = -exponent;
  }
  return position + exponent;
}

}  // namespace

bool parse_json_float(const char* begin, const char* end, double& out) {
  const std::from_chars_result r = std::from_chars(begin, end, out);
  if (r.ec == std::errc()) return true;
  // Out of range either way: too large is refused, too small reads as zero.
  if (leading_exponent(begin, end) >= 0) return false;
  out = *begin == '-' ? -0.0 : 0.0;
  return true;
}

const char* strict_exponent_overflow_at(const char* begin, const char* exponent_digits,
                                        const char* end) {
  if (exponent_digits[-1] == '-') return nullptr;
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  const char* overflow = nullptr;
  int32_t exponent = 0;
  for (const char* p = exponent_digits; p < end; ++p) {
    const int32_t digit = *p - '0';
    if (exponent > kMax / 10 || (exponent == kMax / 10 && digit > kMax % 10)) {
      overflow = p;
      break;
    }
    exponent = exponent * 10 + digit;
  }
  if (!overflow) return nullptr;
  for (const char* p = begin; p < exponent_digits; ++p) {
    if (*p >= '1' && *p <= '9') return overflow;
  }
  return nullptr;
}

}  // namespace quorvane::document
