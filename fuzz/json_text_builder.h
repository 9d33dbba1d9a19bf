// JsonTextBuilder: a Builder for JsonReader that renders what it is given as compact JSON (keys
// in the order given, a repeated key replacing the member before it, floats always with a
// fraction or an exponent so that they read back as floats), and checks on the way what the
// reader promises every Builder:
//  - every string and key is valid UTF-8;
//  - a key passed as stable lies inside the input being read;
//  - the members of an object come in ascending byte order of their keys, the occurrences of
//    a repeated key one after another in the order of the text;
//  - no array or object nests deeper than the dialect's limit.
// It never refuses a value: a broken promise aborts through fuzz_check().
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "document/json_reader.h"
#include "fuzz_check.h"
#include "util/utf8_lossy.h"

namespace quorvane::fuzzing {

class JsonTextBuilder {
 public:
  struct Value {
    std::string json;  // an object's members, without the braces, while it is filled
    bool object = false;
    int depth = 0;  // levels of arrays and objects, this one included
    // A key: its text and when it was read (counting from 1). An object: its last key so far
    // and when that was read (0 before the first member), and where the member of that key
    // starts in `json`, its comma included.
    std::string key;
    uint64_t read_order = 0;
    size_t last_member = 0;

    std::string rendering() const { return object ? "{" + json + "}" : json; }
  };

  explicit JsonTextBuilder(int depth_limit) : depth_limit_(depth_limit) {}

  // The input of the next read, inside which every stable key must lie.
  void reading(const char* data, size_t size) {
    input_begin_ = data;
    input_end_ = data + size;
  }

  bool null(Value& v) { return set(v, "null"); }
  bool boolean(bool b, Value& v) { return set(v, b ? "true" : "false"); }
  bool unsigned_integer(uint64_t n, Value& v) { return set(v, std::to_string(n)); }
  bool signed_integer(int64_t n, Value& v) {
    fuzz_check(n < 0, "a signed integer that is not negative");
    return set(v, std::to_string(n));
  }
  bool real(double d, Value& v) {
    fuzz_check(std::isfinite(d), "a float that is not finite");
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", d);
    std::string json = text;
    if (json.find_first_of(".e") == std::string::npos) json += ".0";
    return set(v, std::move(json));
  }
  bool string(std::string_view s, Value& v) {
    fuzz_check(utf8_lossy(s) == s, "a string that is not valid UTF-8");
    return set(v, quoted(s));
  }
  bool key(std::string_view s, bool stable, Value& v) {
    fuzz_check(utf8_lossy(s) == s, "a key that is not valid UTF-8");
    fuzz_check(!stable || (s.data() >= input_begin_ && s.data() + s.size() <= input_end_),
               "a stable key outside the input");
    v = Value{quoted(s), false, 0, std::string(s), ++keys_read_, 0};
    return true;
  }
  bool array(Value* items, size_t count, Value& v) {
    std::string json = "[";
    int depth = 0;
    for (size_t i = 0; i < count; ++i) {
      json += (i ? "," : "") + items[i].rendering();
      depth = std::max(depth, items[i].depth);
    }
    v = Value{json + "]", false, depth + 1, {}, 0, 0};
    fuzz_check(v.depth <= depth_limit_, "an array nested beyond the limit");
    return true;
  }
  bool object(Value& v) {
    v = Value{{}, true, 1, {}, 0, 0};
    return true;
  }
  bool member(Value& object, Value& key, Value& value) {
    if (object.read_order != 0) {
      const int order = compare_bytes(object.key, key.key);
      fuzz_check(order <= 0, "object members out of key order");
      if (order == 0) {
        fuzz_check(object.read_order < key.read_order, "a repeated key out of text order");
        object.json.resize(object.last_member);  // the later occurrence wins
      }
    }
    object.last_member = object.json.size();  // where its comma, if any, goes
    if (!object.json.empty()) object.json += ',';
    object.json += key.json + ":" + value.rendering();
    object.key = std::move(key.key);
    object.read_order = key.read_order;
    object.depth = std::max(object.depth, value.depth + 1);
    fuzz_check(object.depth <= depth_limit_, "an object nested beyond the limit");
    return true;
  }

 private:
  static bool set(Value& v, std::string json) {
    v = Value{std::move(json), false, 0, {}, 0, 0};
    return true;
  }

  // Unsigned bytes, a proper beginning first.
  static int compare_bytes(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
      const auto x = static_cast<unsigned char>(a[i]);
      const auto y = static_cast<unsigned char>(b[i]);
      if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
  }

  static std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (const char c : s) {
      if (c == '"' || c == '\\') {
        out += '\\';
        out += c;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
        out += escape;
      } else {
        out += c;
      }
    }
    return out + "\"";
  }

  int depth_limit_;
  const char* input_begin_ = nullptr;
  const char* input_end_ = nullptr;
  uint64_t keys_read_ = 0;
};

}  // namespace quorvane::fuzzing
