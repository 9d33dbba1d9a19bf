#include "document/float_text.h"

#include <charconv>
#include <cmath>

namespace quorvane {

void append_json_float(std::string& out, double value) {
  if (value == 0) {
    out += std::signbit(value) ? "-0.0" : "0.0";
    return;
  }
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  // buf now holds "[-]d[.ddd]e(+|-)xx": split it into sign, digits and exponent.
  const char* p = buf;
  if (*p == '-') {
    out += '-';
    ++p;
  }
  char digits[32];
  int n = 0;
  while (p < r.ptr && *p != 'e') {
    if (*p != '.') digits[n++] = *p;
    ++p;
  }
  // p is at the 'e'; the exponent's sign is always written.
  int exponent = 0;
  std::from_chars(p + 2, r.ptr, exponent);
  if (p[1] == '-') exponent = -exponent;
  if (exponent >= -5 && exponent <= 15) {
    if (exponent < 0) {
      out += "0.";
      out.append(static_cast<size_t>(-exponent - 1), '0');
      out.append(digits, static_cast<size_t>(n));
    } else if (n <= exponent + 1) {
      out.append(digits, static_cast<size_t>(n));
      out.append(static_cast<size_t>(exponent + 1 - n), '0');
      out += ".0";
    } else {
      out.append(digits, static_cast<size_t>(exponent + 1));
      out += '.';
      out.append(digits + exponent + 1, static_cast<size_t>(n - exponent - 1));
    }
    return;
  }
  out += digits[0];
  if (n > 1) {
    out += '.';
    out.append(digits + 1, static_cast<size_t>(n - 1));
  }
  out += 'e';
  out += exponent < 0 ? '-' : '+';
  out += std::to_string(exponent < 0 ? -exponent : exponent);
}

void append_plain_float(std::string& out, double value) {
  // The longest shortest-fixed text of a finite double is under 330 characters.
  char buf[400];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  out.append(buf, static_cast<size_t>(r.ptr - buf));
}

}  // namespace quorvane
