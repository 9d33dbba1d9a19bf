#include "document/index_keys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace quorvane::document {
namespace {

std::set<std::string> keys_of(const std::string& json) {
  IndexWalkBuffers buffers;
  std::vector<std::string> keys;
  EXPECT_TRUE(collect_index_keys(json, buffers, keys)) << json;
  return {keys.begin(), keys.end()};
}

TEST(IndexKeys, WorkedExample) {
  EXPECT_EQ(keys_of(R"({"user": {"city": "Paris", "tags": ["a", "b"]}, "n": 3, "ratio": 2.0,)"
                    R"( "ok": true, "x": null, "e": [], "o": {}})"),
            (std::set<std::string>{"user.city.Paris", "user.tags.0.a", "user.tags.1.b", "n.3",
                                   "ratio.2", "ok.true"}));
}

TEST(IndexKeys, OtherShapes) {
  const std::pair<const char*, std::set<std::string>> cases[] = {
      {R"([5, {"a": "b"}])", {"0.5", "1.a.b"}},
      {R"("hello")", {".hello"}},
      {"7", {".7"}},
      {"null", {}},
      {"{}", {}},
      {"[]", {}},
      {R"({"": 1})", {".1"}},
      {R"({"": {"a": 1}})", {"a.1"}},
      {R"({"k": {"": 1}})", {"k..1"}},
      {R"({"a": [[1]]})", {"a.0.0.1"}},
      {R"({"s": "x.y"})", {"s.x.y"}},
      {R"({"a": 1, "a": 2})", {"a.1", "a.2"}},
      {R"({"s": ""})", {"s."}},
      {R"({"s": "a\"b\u00e9\n"})", {"s.a\"b\xc3\xa9\n"}},
      {R"({"i": -12, "u": 18446744073709551615, "m": -9223372036854775808})",
       {"i.-12", "u.18446744073709551615", "m.-9223372036854775808"}},
      {R"({"f": 0.5, "g": 1e21, "h": 1e-7, "j": 0.1, "k": 1e2, "b": false})",
       {"f.0.5", "g.1000000000000000000000", "h.0.0000001", "j.0.1", "k.100", "b.false"}},
  };
  for (const auto& [json, keys] : cases) EXPECT_EQ(keys_of(json), keys) << json;
}

TEST(IndexKeys, CollisionsAreNotEscaped) {
  EXPECT_EQ(keys_of(R"({"a.b": 1})"), keys_of(R"({"a": {"b": 1}})"));
  EXPECT_EQ(keys_of(R"({"t": ["x"]})"), keys_of(R"({"t": {"0": "x"}})"));
  EXPECT_EQ(keys_of(R"({"n": 2})"), keys_of(R"({"n": 2.0})"));
  EXPECT_EQ(keys_of(R"({"n": 2})"), keys_of(R"({"n": "2"})"));
  EXPECT_EQ(keys_of(R"({"s": true})"), keys_of(R"({"s": "true"})"));
}

TEST(IndexKeys, EmbeddedNulInNamesAndValues) {
  std::string json = "{\"a\\u0000b\": \"x\\u0000y\"}";
  EXPECT_EQ(keys_of(json), (std::set<std::string>{std::string("a\0b.x\0y", 7)}));
}

TEST(IndexKeys, RefusedDocumentsGiveNoKeys) {
  IndexWalkBuffers buffers;
  for (const std::string& json :
       {std::string(R"({"ok": 1, "big": 18446744073709551616})"), std::string("{"), std::string(""),
        std::string("[1,]"), std::string(2000, '[') + std::string(2000, ']')}) {
    std::vector<std::string> keys;
    EXPECT_FALSE(collect_index_keys(json, buffers, keys)) << json.substr(0, 40);
    EXPECT_TRUE(keys.empty());
  }
}

TEST(IndexKeys, DeepButAcceptedNesting) {
  std::string json = std::string(500, '[') + "1" + std::string(500, ']');
  std::string key;
  for (int i = 0; i < 500; ++i) key += i == 0 ? "0" : ".0";
  EXPECT_EQ(keys_of(json), (std::set<std::string>{key + ".1"}));
}

}  // namespace
}  // namespace quorvane::document
