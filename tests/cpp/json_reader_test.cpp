#include "document/json_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "document/doc_bytes.h"

namespace quorvane::document {
namespace {

// Renders what the reader builds as text: integers tagged u/i, floats f, members in the order
// the builder is given them (so repeated keys show up once per occurrence).
struct RenderingBuilder {
  struct Value {
    std::string text;
    bool object = false;  // `text` holds the members of an object still being filled
    std::string str() const { return object ? "{" + text + "}" : text; }
  };

  std::string refuse;  // a string value the builder cannot build

  bool null(Value& v) { return set(v, "null"); }
  bool boolean(bool b, Value& v) { return set(v, b ? "true" : "false"); }
  bool unsigned_integer(uint64_t n, Value& v) { return set(v, "u" + std::to_string(n)); }
  bool signed_integer(int64_t n, Value& v) { return set(v, "i" + std::to_string(n)); }
  bool real(double d, Value& v) {
    char text[40];
    std::snprintf(text, sizeof text, "f%.17g", d);
    return set(v, text);
  }
  bool string(std::string_view s, Value& v) {
    if (!refuse.empty() && s == refuse) return false;
    return set(v, "\"" + std::string(s) + "\"");
  }
  bool key(std::string_view s, bool, Value& v) { return string(s, v); }
  bool array(Value* items, size_t count, Value& v) {
    std::string text = "[";
    for (size_t i = 0; i < count; ++i) text += (i ? "," : "") + items[i].str();
    return set(v, text + "]");
  }
  bool object(Value& v) {
    v = Value{"", true};
    return true;
  }
  bool member(Value& object, Value& key, Value& value) {
    object.text += (object.text.empty() ? "" : ",") + key.str() + ":" + value.str();
    return true;
  }

  static bool set(Value& v, std::string text) {
    v = Value{std::move(text), false};
    return true;
  }
};

// The rendered value, or "error: <fault text>", or "builder failed".
template <Dialect D>
std::string read(const std::string& text, RenderingBuilder builder = {}) {
  JsonReader<D, RenderingBuilder> reader(builder);
  DocBytes bytes = DocBytes::copy_of(text);
  RenderingBuilder::Value out;
  using Outcome = typename JsonReader<D, RenderingBuilder>::Outcome;
  switch (reader.read(bytes.data(), bytes.size(), out)) {
    case Outcome::Ok:
      return out.str();
    case Outcome::Fault:
      return "error: " + fault_text(D, reader.fault(), text, reader.fault_offset());
    case Outcome::BuilderFailed:
      return "builder failed";
  }
  return "?";
}

std::string nested(size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); }

struct Case {
  std::string input;
  std::string strict;
  std::string simd;  // empty: the same as strict (values) or not checked (faults)
  Case(std::string i, std::string s, std::string d = "")
      : input(std::move(i)), strict(std::move(s)), simd(std::move(d)) {}
};

TEST(JsonReader, ValuesAndKeyOrderInBothDialects) {
  const Case cases[] = {
      {R"({"b":1,"a":{"d":2,"c":3}})", R"({"a":{"c":u3,"d":u2},"b":u1})"},
      // Keys sorted by unsigned bytes, a proper beginning first; escaped keys by their text.
      {R"({"é":1,"z":2,"Z":3,"":4,"ab":5,"a":6,"\u0062":7})",
       R"({"":u4,"Z":u3,"a":u6,"ab":u5,"b":u7,"z":u2,"é":u1})"},
      // A repeated key reaches the builder once per occurrence, in the text's order.
      {R"({"b":0,"a":1,"a":2})", R"({"a":u1,"a":u2,"b":u0})"},
      {R"([0,-1,18446744073709551615,-9223372036854775808,1.5,2.5E+3,1e-400,-0])",
       "[u0,i-1,u18446744073709551615,i-9223372036854775808,f1.5,f2500,f0,f-0]"},
      {"[123456789012345678901234567890]", "[f1.2345678901234568e+29]",
       "error: InvalidNumber at character 1 ('1')"},
      {"[-9223372036854775809]", "[f-9.2233720368547758e+18]",
       "error: InvalidNumber at character 1 ('-')"},
      {R"(["q\"\\\/\b\f\n\r\t", "\u00e9\ud83d\ude00", "é€😀"])",
       "[\"q\"\\/\b\f\n\r\t\",\"é😀\",\"é€😀\"]"},
      {" \t\n\r{ \"a\" : [ true , false , null ] , \"b\" : { } } \n",
       "{\"a\":[true,false,null],\"b\":{}}"},
      {"[[],{},\"\"]", "[[],{},\"\"]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(read<Dialect::Strict>(c.input), c.strict) << c.input;
    EXPECT_EQ(read<Dialect::Simd>(c.input), c.simd.empty() ? c.strict : c.simd) << c.input;
  }
}

TEST(JsonReader, FaultTextsAndPositions) {
  const Case cases[] = {
      {"", "EOF while parsing a value at line 1 column 0", "Eof at character 0"},
      {"{} x", "trailing characters at line 1 column 4", "TrailingData at character 3 ('x')"},
      {"[1,]", "trailing comma at line 1 column 4", "TrailingComma at character 3 (']')"},
      {"{'a':1}", "key must be a string at line 1 column 2",
       "ExpectedObjectKey at character 1 (''')"},
      {R"({"n":1e400})", "number out of range at line 1 column 10",
       "InvalidNumber at character 5 ('1')"},
      {R"("\ud800")", "unexpected end of hex escape at line 1 column 8",
       "InvalidUnicodeEscape at character 7 ('\"')"},
      {R"("\udc00")", "lone leading surrogate in hex escape at line 1 column 7", ""},
      {R"("\ud800\u0041")", "lone leading surrogate in hex escape at line 1 column 13", ""},
      {"tru", "EOF while parsing a value at line 1 column 3", "Eof at character 3"},
      {"trux", "expected ident at line 1 column 4", "InvalidLiteral at character 3 ('x')"},
      {"\"a\tb\"",
       "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3",
       "ControlCharacterInString at character 2 ('\t')"},
      {R"({"a" 1})", "expected `:` at line 1 column 6", "ExpectedObjectColon at character 5 ('1')"},
      {R"({"a":1 "b"})", "expected `,` or `}` at line 1 column 8", ""},
      {"[1 2]", "expected `,` or `]` at line 1 column 4", ""},
      {"[1", "EOF while parsing a list at line 1 column 2", "Eof at character 2"},
      {R"({"a":1)", "EOF while parsing an object at line 1 column 6", ""},
      {R"({"a":1,)", "EOF while parsing a value at line 1 column 7", ""},
      {"\"abc", "EOF while parsing a string at line 1 column 4", ""},
      {R"("\x")", "invalid escape at line 1 column 3", ""},
      // The four bytes of a \u escape are taken whatever they are.
      {R"("\u12G4")", "invalid escape at line 1 column 7", ""},
      {R"("\u1x")", "EOF while parsing a string at line 1 column 6", ""},
      {R"("\ud800\u12G4")", "invalid escape at line 1 column 13", ""},
      {"01", "invalid number at line 1 column 2", "InvalidNumber at character 1 ('1')"},
      {"-", "EOF while parsing a value at line 1 column 1", ""},
      {"1.e5", "invalid number at line 1 column 3", ""},
      {"\"\xff\"", "invalid unicode code point at line 1 column 2",
       "InvalidUtf8 at character 1 ('\xc3\xbf')"},
      {"\"\xed\xa0\x80\"", "invalid unicode code point at line 1 column 2", ""},
      {"\n\n  x", "expected value at line 3 column 3", "ExpectedValue at character 4 ('x')"},
      {std::string("{\"a\":1}\0", 8), "trailing characters at line 1 column 8",
       std::string("TrailingData at character 7 ('") + '\0' + "')"},
      // A fault at a line feed is where reading stands once the line feed is read.
      {"[\"new\nline\"]",
       "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0",
       "ControlCharacterInString at character 5 ('\n')"},
      {"[tru\n]", "expected ident at line 2 column 0", "InvalidLiteral at character 4 ('\n')"},
      {"[\"\\\n\"]", "invalid escape at line 2 column 0", ""},
      {"[1e\n]", "invalid number at line 2 column 0", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(read<Dialect::Strict>(c.input), "error: " + c.strict) << c.input;
    if (!c.simd.empty()) {
      EXPECT_EQ(read<Dialect::Simd>(c.input), "error: " + c.simd) << c.input;
    }
  }
}

// The strict dialect reads an exponent into 32 bits: a positive one that passes 2^31-1 is out
// of range at the digit where it does, if the number is not zero; a negative one, or any
// exponent of a zero, gives a zero of the number's sign. An exponent that fits but makes the
// float infinite is out of range at the number's last digit.
TEST(JsonReader, StrictExponentBeyond32Bits) {
  const std::pair<std::string, int> out_of_range[] = {
      {"[0.4e0066" + std::string(127, '9') + "]", 17},
      {"[1e214748364800]", 13},  // 2147483648 passes at its tenth digit
      {"[1e214748364700]", 14},  // 2147483647 fits: the eleventh digit passes
      {"[1e0000021474836480]", 18},
      {"[-2E+99999999999]", 15},
      {"[123456789012345678901234567890e99999999999]", 42},
      {"[0.00000000000000000000000000001234567890123456789e+30000000000]", 62},
  };
  for (const auto& [text, column] : out_of_range) {
    EXPECT_EQ(read<Dialect::Strict>(text),
              "error: number out of range at line 1 column " + std::to_string(column))
        << text;
  }
  EXPECT_EQ(read<Dialect::Strict>("{\"a\":\n  1e99999999999}"),
            "error: number out of range at line 2 column 14");
  EXPECT_EQ(read<Dialect::Strict>("[1e-99999999999,0e99999999999,-0.0E+99999999999]"),
            "[f0,f0,f-0]");
}

TEST(JsonReader, NestingIsBoundedPerDialect) {
  EXPECT_EQ(read<Dialect::Strict>(nested(127)), nested(127));
  EXPECT_EQ(read<Dialect::Strict>(nested(128)),
            "error: recursion limit exceeded at line 1 column 128");
  EXPECT_EQ(read<Dialect::Strict>(std::string(200, '[')),
            "error: recursion limit exceeded at line 1 column 128");
  EXPECT_EQ(read<Dialect::Simd>(nested(1024)), nested(1024));
  EXPECT_EQ(read<Dialect::Simd>(nested(1025)), "error: DepthLimitExceeded at character 1024 ('[')");
  std::string objects;
  for (int i = 0; i < 128; ++i) objects += "{\"a\":";
  EXPECT_EQ(read<Dialect::Strict>(objects), "error: recursion limit exceeded at line 1 column 636");
}

TEST(JsonReader, BuilderFailureStopsTheReadAndTheReaderCanBeReused) {
  RenderingBuilder refusing;
  refusing.refuse = "boom";
  EXPECT_EQ(read<Dialect::Strict>(R"({"a":[1,{"b":"boom"}]})", refusing), "builder failed");

  // After a fault deep inside containers the stacks are clean for the next read.
  RenderingBuilder builder;
  JsonReader<Dialect::Strict, RenderingBuilder> reader(builder);
  DocBytes bad = DocBytes::copy_of(R"({"z":[1,{"\u0079":2,"x":[3,)");
  DocBytes good = DocBytes::copy_of(R"({"b":[1,2],"a":{"y":1,"x":2}})");
  RenderingBuilder::Value out;
  using Outcome = JsonReader<Dialect::Strict, RenderingBuilder>::Outcome;
  EXPECT_EQ(reader.read(bad.data(), bad.size(), out), Outcome::Fault);
  ASSERT_EQ(reader.read(good.data(), good.size(), out), Outcome::Ok);
  EXPECT_EQ(out.str(), R"({"a":{"x":u2,"y":u1},"b":[u1,u2]})");
}

TEST(JsonReader, ManyMembersAndItemsOutgrowTheInlineStacks) {
  std::string object = "{", array = "[", expected_object = "{", expected_array = "[";
  for (int i = 299; i >= 0; --i) {
    char key[8];
    std::snprintf(key, sizeof key, "k%03d", i);
    object += std::string(i == 299 ? "" : ",") + "\"" + key + "\":[" + std::to_string(i) + "]";
  }
  for (int i = 0; i < 300; ++i) {
    char key[8];
    std::snprintf(key, sizeof key, "k%03d", i);
    expected_object += std::string(i ? "," : "") + "\"" + key + "\":[u" + std::to_string(i) + "]";
    array += std::string(i ? "," : "") + std::to_string(i);
    expected_array += std::string(i ? "," : "") + "u" + std::to_string(i);
  }
  EXPECT_EQ(read<Dialect::Strict>(object + "}"), expected_object + "}");
  EXPECT_EQ(read<Dialect::Simd>(array + "]"), expected_array + "]");
}

}  // namespace
}  // namespace quorvane::document
