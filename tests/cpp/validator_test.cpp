#include "document/validator.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace quorvane::document {
namespace {

TEST(ValidateJson, AcceptsOneValueOfAnyKind) {
  const char* accepted[] = {"[1,2]", "42", "\"x\"", "null", " {} ", "true", "false", "-0", "0.5e-3",
                            "1E+2", "[]", "{}", "[[],{}]", " \t\r\n[ 1 , { \"a\" : [ ] } ]\n",
                            R"({"a":[{"b":null}],"c":"\u00e9\n\"\\\/\b\f\r\t"})",
                            // Grammar only: no range, no \u validity, no repeated-key check.
                            "1e400", "123456789012345678901234567890", R"("\uD800")",
                            R"({"a":1,"a":2})", "\"\x7f \xc3\xa9 \xf0\x9f\x98\x80\""};
  for (const char* text : accepted) {
    EXPECT_EQ(validate_json(text), std::nullopt) << text;
  }
}

TEST(ValidateJson, RefusesWithPosition) {
  const std::pair<std::string, std::string> refused[] = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {"   ", "EOF while parsing a value at line 1 column 3"},
      {"{} x", "trailing characters at line 1 column 4"},
      {"1 2", "trailing characters at line 1 column 3"},
      {"[1]]", "trailing characters at line 1 column 4"},
      {"{'a':1}", "key must be a string at line 1 column 2"},
      {"[1,]", "expected value at line 1 column 4"},
      {R"({"a":1,})", "key must be a string at line 1 column 8"},
      {"[}", "expected value at line 1 column 2"},
      {"{]", "key must be a string at line 1 column 2"},
      {".5", "expected value at line 1 column 1"},
      {"+1", "expected value at line 1 column 1"},
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"[1}", "expected `,` or `]` at line 1 column 3"},
      {R"({"a":1 "b":2})", "expected `,` or `}` at line 1 column 8"},
      {R"({"a" 1})", "expected `:` at line 1 column 6"},
      {"[", "EOF while parsing a list at line 1 column 1"},
      {"[1,", "EOF while parsing a value at line 1 column 3"},
      {"[1", "EOF while parsing a list at line 1 column 2"},
      {"{", "EOF while parsing an object at line 1 column 1"},
      {R"({"a")", "EOF while parsing an object at line 1 column 4"},
      {R"({"a":)", "EOF while parsing a value at line 1 column 5"},
      {R"({"a":1)", "EOF while parsing an object at line 1 column 6"},
      {"nul", "EOF while parsing a value at line 1 column 3"},
      {"nulx", "expected ident at line 1 column 4"},
      {"trUe", "expected ident at line 1 column 3"},
      {"01", "invalid number at line 1 column 2"},
      {"-", "invalid number at line 1 column 1"},
      {"-a", "invalid number at line 1 column 2"},
      {"1.", "invalid number at line 1 column 2"},
      {"1.e5", "invalid number at line 1 column 3"},
      {"1e", "invalid number at line 1 column 2"},
      {"1e+", "invalid number at line 1 column 3"},
      {"1e+x", "invalid number at line 1 column 4"},
      {"[-]", "invalid number at line 1 column 3"},
      {"\"abc", "EOF while parsing a string at line 1 column 4"},
      {"\"\\", "EOF while parsing a string at line 1 column 2"},
      {R"("\q")", "invalid escape at line 1 column 3"},
      {R"(["\u12G4"])", "invalid escape at line 1 column 8"},
      {R"("\u12")", "EOF while parsing a string at line 1 column 6"},
      {"[\n1,\n]", "expected value at line 3 column 1"},
      {"{\n  \"a\": tru", "EOF while parsing a value at line 2 column 10"},
      // A fault at a line feed is where reading stands once the line feed is read.
      {"[\"\\u123\n\"]", "invalid escape at line 2 column 0"},
      {"[tru\n]", "expected ident at line 2 column 0"},
      {"[\"\\\n\"]", "invalid escape at line 2 column 0"},
      {"[1.\n]", "invalid number at line 2 column 0"},
      {"[-\n1]", "invalid number at line 2 column 0"},
      {"[1e\n]", "invalid number at line 2 column 0"},
  };
  for (const auto& [text, error] : refused) {
    EXPECT_EQ(validate_json(text).value_or("accepted"), error) << text;
  }
}

// A control character in a string is not read: the fault is at the byte before it, and a line
// feed there starts no new line.
TEST(ValidateJson, ControlCharacterIsReportedBeforeIt) {
  const std::pair<std::string, std::string> refused[] = {
      {"[\"\t\"]", "line 1 column 2"},
      {std::string("[\"a\0\"]", 6), "line 1 column 3"},
      {"[\"new\nline\"]", "line 1 column 5"},
      {"\"a\x01\"", "line 1 column 2"},
      {"[\"\x7f\x1f\"]", "line 1 column 3"},
      {"[\"\\n\t\"]", "line 1 column 4"},        // just after an escape
      {"[\"\\u00e9\x1f\"]", "line 1 column 8"},  // just after a \u escape
      {"{\"a\tb\":1}", "line 1 column 3"},       // in a key
      {"[1,\n\"x\ty\"]", "line 2 column 2"},
  };
  for (const auto& [text, position] : refused) {
    EXPECT_EQ(validate_json(text).value_or("accepted"),
              "control character (\\u0000-\\u001F) found while parsing a string at " + position)
        << text;
  }
}

TEST(ValidateJson, NestsWithoutBound) {
  constexpr size_t kLevels = 1'000'000;
  const std::string arrays = std::string(kLevels, '[') + std::string(kLevels, ']');
  EXPECT_EQ(validate_json(arrays), std::nullopt);

  std::string objects;
  for (size_t i = 0; i < kLevels; ++i) objects += R"({"a":)";
  objects += "[1]";
  objects += std::string(kLevels, '}');
  EXPECT_EQ(validate_json(objects), std::nullopt);

  // A mismatch deep inside is found where it is.
  std::string mismatched = std::string(kLevels, '[') + "{}" + std::string(kLevels - 1, ']') + "}";
  EXPECT_EQ(validate_json(mismatched).value_or("accepted"),
            "expected `,` or `]` at line 1 column " + std::to_string(2 * kLevels + 2));
  EXPECT_EQ(validate_json(std::string(kLevels, '[')).value_or("accepted"),
            "EOF while parsing a list at line 1 column " + std::to_string(kLevels));
}

TEST(ValidateJson, LargeInputs) {
  std::string doc = "[";
  for (int i = 0; i < 200'000; ++i) {
    if (i > 0) doc += ',';
    doc += R"({"id":)" + std::to_string(i) +
           R"(,"name":"user name \"quoted\" \u00e9","score":-12.5e-3,"ok":true,"tags":[null]})";
  }
  doc += "]";
  EXPECT_EQ(validate_json(doc), std::nullopt);

  // A long string is scanned in words; faults inside it keep their exact column.
  const std::string long_text(size_t{10'000'003}, 'x');
  EXPECT_EQ(validate_json("\"" + long_text + "\""), std::nullopt);
  EXPECT_EQ(validate_json("\"" + long_text + "\x1f\"").value_or("accepted"),
            "control character (\\u0000-\\u001F) found while parsing a string at line 1 column " +
                std::to_string(long_text.size() + 1));
  EXPECT_EQ(validate_json("\"" + long_text).value_or("accepted"),
            "EOF while parsing a string at line 1 column " + std::to_string(long_text.size() + 1));
}

}  // namespace
}  // namespace quorvane::document
