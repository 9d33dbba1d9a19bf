// Reading JSON number literals: the grammar check, the fast integer path and the correctly
// rounded float path of the JSON reader. Pure C++.
//
// The text handed to these functions must be followed by a byte that cannot continue a number
// (the reader's buffers end in zero padding).
#pragma once

#include <cstdint>

#include "document/json_faults.h"

namespace quorvane::document {

struct JsonNumber {
  enum class Kind : uint8_t { Unsigned, Signed, Float };
  Kind kind = Kind::Unsigned;
  uint64_t u = 0;  // Kind::Unsigned
  int64_t i = 0;   // Kind::Signed: always negative
  double d = 0;    // Kind::Float
};

// Parses the decimal text [begin, end), a JSON number by the grammar, as the nearest double
// (ties to even). A value too small for a double gives zero of its sign; false when the value is
// too large (it would be infinite).
bool parse_json_float(const char* begin, const char* end, double& out);

// The strict dialect reads an exponent's digits into a 32-bit signed integer and gives up at
// the first digit that would take it past 2^31-1. For the number [begin, end), whose exponent's
// digits start at `exponent_digits`, that digit when the number is out of range there: its
// exponent is positive and some digit before the exponent is not zero. Null otherwise, also
// when the exponent overflows but is negative or the number is zero: the value is then a zero
// of its sign, which parse_json_float gives.
const char* strict_exponent_overflow_at(const char* begin, const char* exponent_digits,
                                        const char* end);

inline bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Reads the number that starts at `p` (a '-' or a digit; `end` is the end of the text).
// Integer literals that fit 0..2^64-1 or -2^63..-1 become integers; every other number is a
// float, except that in the simd dialect an integer literal beyond both ranges is refused.
// A float that would be infinite is refused, in the strict dialect at its last digit or, when
// its exponent passes 32 bits, at the digit where it does (strict_exponent_overflow_at).
// Returns the position just past the number, or null with `fault` and `fault_at` set.
template <Dialect D>
const char* read_number(const char* p, const char* end, JsonNumber& out, JsonFault& fault,
                        const char*& fault_at) {
  const char* start = p;
  const bool negative = *p == '-';
  p += negative;
  const char* digits = p;
  uint64_t value = 0;
  if (*p == '0') {
    ++p;
    if (is_digit(*p)) {
      fault = JsonFault::InvalidNumber;
      fault_at = p;
      return nullptr;
    }
  } else if (is_digit(*p)) {
    do {
      value = value * 10 + static_cast<uint64_t>(*p - '0');
      ++p;
    } while (is_digit(*p));
  } else {
    fault = p == end ? JsonFault::EofWhileParsingValue : JsonFault::InvalidNumber;
    fault_at = p;
    return nullptr;
  }

  bool integer = true;
  if (*p == '.') {
    integer = false;
    ++p;
    if (!is_digit(*p)) {
      fault = p == end ? JsonFault::EofWhileParsingValue : JsonFault::InvalidNumber;
      fault_at = p;
      return nullptr;
    }
    while (is_digit(*p)) ++p;
  }
  if (*p == 'e' || *p == 'E') {
    integer = false;
    ++p;
    if (*p == '+' || *p == '-') ++p;
    if (!is_digit(*p)) {
      fault = p == end ? JsonFault::EofWhileParsingValue : JsonFault::InvalidNumber;
      fault_at = p;
      return nullptr;
    }
    const char* exponent_digits = p;
    while (is_digit(*p)) ++p;
    // Nine digits always fit 32 bits.
    if (D == Dialect::Strict && p - exponent_digits > 9) {
      if (const char* at = strict_exponent_overflow_at(start, exponent_digits, p)) {
        fault = JsonFault::NumberOutOfRange;
        fault_at = at;
        return nullptr;
      }
    }
  }

  if (integer) {
    const auto count = p - digits;
    bool fits = count <= 19;
    if (count == 20) {
      // Nineteen digits always fit; the twentieth may overflow.
      uint64_t head = 0;
      for (const char* q = digits; q < p - 1; ++q)
        head = head * 10 + static_cast<uint64_t>(*q - '0');
      fits = !__builtin_mul_overflow(head, 10, &value) &&
             !__builtin_add_overflow(value, static_cast<uint64_t>(p[-1] - '0'), &value);
    }
    if (fits && !negative) {
      out.kind = JsonNumber::Kind::Unsigned;
      out.u = value;
      return p;
    }
    if (fits && value != 0 && value <= (uint64_t{1} << 63)) {
      out.kind = JsonNumber::Kind::Signed;
      out.i = static_cast<int64_t>(~value + 1);
      return p;
    }
    // -0 and integers beyond both ranges: floats in the strict dialect.
    if (D == Dialect::Simd && !(fits && value == 0)) {
      fault = JsonFault::IntegerOutOfRange;
      fault_at = start;
      return nullptr;
    }
  }

  out.kind = JsonNumber::Kind::Float;
  if (!parse_json_float(start, p, out.d)) {
    fault = JsonFault::NumberOutOfRange;
    fault_at = D == Dialect::Strict ? p - 1 : start;
    return nullptr;
  }
  return p;
}

}  // namespace quorvane::document
