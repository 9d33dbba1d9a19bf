#include "document/float_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace quorvane::document {
namespace {

std::string json_float(double v) {
  std::string s;
  append_json_float(s, v);
  return s;
}

std::string plain_float(double v) {
  std::string s;
  append_plain_float(s, v);
  return s;
}

TEST(FloatText, StoredNotation) {
  const std::pair<double, const char*> cases[] = {
      {100.0, "100.0"},
      {1.0, "1.0"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.5, "1.5"},
      {0.1, "0.1"},
      {0.00001, "0.00001"},
      {0.000012, "0.000012"},
      {1e15, "1000000000000000.0"},
      {1.5e15, "1500000000000000.0"},
      {1e16, "1e+16"},
      {1.5e-7, "1.5e-7"},
      {1e-6, "1e-6"},
      {0.000099, "0.000099"},
      {1.2345678901234568e+20, "1.2345678901234568e+20"},
      {5e-324, "5e-324"},
      {-2.5, "-2.5"},
      {123456.789, "123456.789"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
  };
  for (auto [value, text] : cases) EXPECT_EQ(json_float(value), text) << value;
}

TEST(FloatText, IndexNotation) {
  const std::pair<double, std::string> cases[] = {
      {2.0, "2"},
      {0.5, "0.5"},
      {1e21, "1000000000000000000000"},
      {1e-7, "0.0000001"},
      {0.1, "0.1"},
      {1e2, "100"},
      {-3.25, "-3.25"},
      // The shortest digits, not the double's exact value: 1e23 is stored as
      // 99999999999999991611392 exactly, and 2^60 as 1152921504606846976.
      {1e23, "100000000000000000000000"},
      {1152921504606846976.0, "1152921504606847000"},
      {1.5e300, "15" + std::string(299, '0')},
      {5e-324, "0." + std::string(323, '0') + "5"},
      {-0.0, "-0"},
      {0.0, "0"},
  };
  for (auto [value, text] : cases) EXPECT_EQ(plain_float(value), text) << value;
}

// Both texts read back as the very same double.
TEST(FloatText, RoundTripsRandomBitPatterns) {
  std::mt19937_64 rng(42);
  for (int i = 0; i < 100000; ++i) {
    uint64_t bits = rng();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (!std::isfinite(v)) continue;
    for (const std::string& text : {json_float(v), plain_float(v)}) {
      double back = 0;
      auto r = std::from_chars(text.data(), text.data() + text.size(), back);
      ASSERT_EQ(r.ec, std::errc()) << text;
      ASSERT_EQ(r.ptr, text.data() + text.size()) << text;
      // Bit for bit: the sign of a zero must survive too.
      ASSERT_EQ(std::bit_cast<uint64_t>(back), std::bit_cast<uint64_t>(v)) << text;
    }
  }
}

}  // namespace
}  // namespace quorvane::document
