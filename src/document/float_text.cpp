#include "document/float_text.h"

#include <charconv>
#include <cmath>

namespace quorvane::document {

namespace {

// The shortest digit string that reads back as `value` (finite, not zero), and the decimal
// exponent of its first digit: value is d1.d2...dn times 10^exponent.
struct ShortestDigits {
  bool negative;
  char digits[20];
  int count;
  int exponent;
};

ShortestDigits shortest_digits(double value) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  // buf now holds "[-]d[.ddd]e(+|-)xx".
  ShortestDigits d{};
  const char* p = buf;
  if (*p == '-') {
    d.negative = true;
    ++p;
  }
  while (p < r.ptr && *p != 'e') {
    if (*p != '.') d.digits[d.count++] = *p;
    ++p;
  }
  // p is at the 'e'; the exponent's sign is always written.
  std::from_chars(p + 2, r.ptr, d.exponent);
  if (p[1] == '-') d.exponent = -d.exponent;
  return d;
}

// Plain decimal notation of the digits: "0.000ddd", "dd.ddd" or "ddd000"; an integral value
// has no fraction.
void append_plain_digits(std::string& out, const ShortestDigits& d) {
  const auto n = static_cast<size_t>(d.count);
  if (d.exponent < 0) {
    out += "0.";
    out.append(static_cast<size_t>(-d.exponent - 1), '0');
    out.append(d.digits, n);
  } else if (static_cast<size_t>(d.exponent) + 1 >= n) {
    out.append(d.digits, n);
    out.append(static_cast<size_t>(d.exponent) + 1 - n, '0');
  } else {
    const auto whole = static_cast<size_t>(d.exponent) + 1;
    out.append(d.digits, whole);
    out += '.';
    out.append(d.digits + whole, n - whole);
  }
}

}  // namespace

void append_json_float(std::string& out, double value) {
  if (value == 0) {
    out += std::signbit(value) ? "-0.0" : "0.0";
    return;
  }
  const ShortestDigits d = shortest_digits(value);
  if (d.negative) out += '-';
  if (d.exponent >= -5 && d.exponent <= 15) {
    append_plain_digits(out, d);
    if (d.exponent + 1 >= d.count) out += ".0";
    return;
  }
  out += d.digits[0];
  if (d.count > 1) {
    out += '.';
    out.append(d.digits + 1, static_cast<size_t>(d.count - 1));
  }
  out += 'e';
  out += d.exponent < 0 ? '-' : '+';
  out += std::to_string(d.exponent < 0 ? -d.exponent : d.exponent);
}

void append_plain_float(std::string& out, double value) {
  if (value == 0) {
    out += std::signbit(value) ? "-0" : "0";
    return;
  }
  const ShortestDigits d = shortest_digits(value);
  if (d.negative) out += '-';
  append_plain_digits(out, d);
}

}  // namespace quorvane::document
