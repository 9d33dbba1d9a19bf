#include "util/utf8_lossy.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(Utf8Lossy, ReplacesEachMaximalIllFormedPartOnce) {
  const std::string r = "\xEF\xBF\xBD";
  const struct {
    std::string in, out;
  } cases[] = {
      {"plain", "plain"},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
      {"a\xFFz", "a" + r + "z"},
      {"\x80", r},
      {"\xE2\x82", r},  // a cut three-byte sequence: one replacement
      {"\xE2\x82z", r + "z"},
      {"\xF0\x9F\x98", r},
      {"\xC0\x80", r + r},  // overlong lead: each byte on its own
      {"\xE0\x80\x80", r + r + r},
      {"\xED\xA0\x80", r + r + r},  // a surrogate
      {"\xF4\x90\x80\x80", r + r + r + r},
      {"\xF5\x80", r + r},
  };
  for (const auto& c : cases) EXPECT_EQ(utf8_lossy(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace quorvane
