// JsonReader: the recursive-descent reader behind decode_document. It walks a stored document
// once and hands every value to a Builder, which makes the target objects directly (Python
// objects in the module, plain values in the C++ tests): no tree of its own is built.
//
// What it guarantees whatever the Builder:
//  - exactly one JSON value, optionally surrounded by whitespace (space, tab, LF, CR);
//  - strings: escapes decoded, \u escapes joined into surrogate pairs, lone surrogates,
//    raw control characters and invalid UTF-8 refused; a string reaches the Builder as UTF-8;
//  - numbers as read_number() says for the dialect;
//  - nesting bounded by the dialect's limit (the first level beyond it is refused);
//  - the members of every object reach the Builder in ascending byte order of their keys
//    (unsigned bytes, a proper beginning first), a repeated key once per occurrence in the
//    text's order, so a Builder that replaces on a repeated key keeps the last value. Keys
//    that arrive strictly ascending, as the encoder writes them, are passed on as they are;
//    only an object whose keys are out of order is sorted.
//
// Builder interface (each call returns false when it cannot build; the Builder keeps why):
//   using Value = <a default-constructible, movable owner of one built value>;
//   bool null(Value&); bool boolean(bool, Value&);
//   bool unsigned_integer(uint64_t, Value&); bool signed_integer(int64_t, Value&);
//   bool real(double, Value&); bool string(std::string_view, Value&);
//   bool key(std::string_view text, bool stable, Value&);  // stable: `text` lives as long
//                                                          // as the read's input
//   bool array(Value* items, size_t count, Value&);          // takes the items
//   bool object(Value&);                                     // a new, empty object
//   bool member(Value& object, Value& key, Value& value);
//
// Input: `size` bytes followed by at least 16 readable bytes, the first of which is zero
// (DocBytes' padding): the zero ends every scan, so the hot loops need no bounds checks.
// The input is never written.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "document/json_faults.h"
#include "document/json_number.h"
#include "util/inline_stack.h"

namespace quorvane::document {

namespace reader_detail {

inline bool is_whitespace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// The first byte at or after `p` that is a quote, a backslash, below 0x20 or above 0x7F.
inline const char* skip_plain_string_bytes(const char* p) {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i space = _mm_set1_epi8(0x20);
  for (;;) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Signed comparison: bytes above 0x7F are negative, so below 0x20 as well.
    const __m128i special =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                     _mm_cmplt_epi8(v, space));
    const int mask = _mm_movemask_epi8(special);
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#else
  for (;; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\' || c < 0x20 || c > 0x7F) return p;
  }
#endif
}

inline bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The end of the well-formed UTF-8 sequence of more than one byte that starts at `p`, or null.
// Overlong forms, surrogates and code points beyond U+10FFFF are refused.
inline const char* utf8_sequence_end(const char* p) {
  const auto c0 = static_cast<unsigned char>(p[0]);
  const auto c1 = static_cast<unsigned char>(p[1]);
  if (c0 < 0xC2) return nullptr;
  if (c0 < 0xE0) return is_continuation(p[1]) ? p + 2 : nullptr;
  if (c0 < 0xF0) {
    if (!is_continuation(p[1]) || !is_continuation(p[2])) return nullptr;
    if ((c0 == 0xE0 && c1 < 0xA0) || (c0 == 0xED && c1 > 0x9F)) return nullptr;
    return p + 3;
  }
  if (c0 < 0xF5) {
    if (!is_continuation(p[1]) || !is_continuation(p[2]) || !is_continuation(p[3])) return nullptr;
    if ((c0 == 0xF0 && c1 < 0x90) || (c0 == 0xF4 && c1 > 0x8F)) return nullptr;
    return p + 4;
  }
  return nullptr;
}

// Byte order of keys: unsigned bytes, a proper beginning first. Keys are short and usually
// differ early, so a plain loop beats a call to memcmp.
inline bool key_less(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

inline int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

inline void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace reader_detail

template <Dialect D, class Builder>
class JsonReader {
 public:
  using Value = typename Builder::Value;
  enum class Outcome { Ok, Fault, BuilderFailed };

  explicit JsonReader(Builder& builder) : builder_(builder) {}
  JsonReader(const JsonReader&) = delete;
  JsonReader& operator=(const JsonReader&) = delete;

  // Reads the one value of `data` into `out`. On Outcome::Fault, fault() and fault_offset()
  // tell what and where; on Outcome::BuilderFailed the Builder knows why. Either way nothing
  // built is kept. A reader may be used for any number of reads, one after another.
  Outcome read(const char* data, size_t size, Value& out) {
    begin_ = data;
    end_ = data + size;
    builder_failed_ = false;
    key_arena_.clear();
    const char* p = skip_whitespace(data);
    p = value(p, 0, out);
    if (p) {
      p = skip_whitespace(p);
      if (p == end_) return Outcome::Ok;
      fail(JsonFault::TrailingCharacters, p);
      out = Value();
    }
    return builder_failed_ ? Outcome::BuilderFailed : Outcome::Fault;
  }

  JsonFault fault() const { return fault_; }
  size_t fault_offset() const { return static_cast<size_t>(fault_at_ - begin_); }

 private:
  static constexpr int kDepthLimit = D == Dialect::Strict ? kStrictDepthLimit : kSimdDepthLimit;

  // One member of an object being read: its key's bytes are in the input (stable) or, for
  // a key that held escapes, in key_arena_ at `offset`.
  struct Member {
    Value key;
    Value value;
    const char* source = nullptr;
    size_t offset = 0;
    size_t size = 0;
  };

  // Room for the items and members of typical documents without allocating.
  using ItemStack = InlineStack<Value, 64>;
  using MemberStack = InlineStack<Member, 32>;

  // Releases what a container pushed on a stack when it ends, however it ends.
  template <class Stack>
  class StackFrame {
   public:
    explicit StackFrame(Stack& stack) : stack_(stack), base_(stack.size()) {}
    StackFrame(const StackFrame&) = delete;
    StackFrame& operator=(const StackFrame&) = delete;
    ~StackFrame() { stack_.truncate(base_); }
    size_t base() const { return base_; }

   private:
    Stack& stack_;
    size_t base_;
  };

  const char* fail(JsonFault fault, const char* at) {
    fault_ = fault;
    fault_at_ = at;
    return nullptr;
  }
  const char* builder_failed() {
    builder_failed_ = true;
    return nullptr;
  }
  // A fault at `p`, or the end-of-input fault when `p` is the end.
  const char* fail_at(const char* p, JsonFault fault, JsonFault at_end) {
    return fail(p == end_ ? at_end : fault, p);
  }

  static const char* skip_whitespace(const char* p) {
    while (reader_detail::is_whitespace(*p)) ++p;
    return p;
  }

  const char* value(const char* p, int depth, Value& out) {
    switch (*p) {
      case '"': {
        std::string_view text;
        bool escaped = false;
        p = string(p + 1, text, escaped);
        if (!p) return nullptr;
        return builder_.string(text, out) ? p : builder_failed();
      }
      case '{':
        if (depth >= kDepthLimit) return fail(JsonFault::DepthLimitExceeded, p);
        return object(p + 1, depth + 1, out);
      case '[':
        if (depth >= kDepthLimit) return fail(JsonFault::DepthLimitExceeded, p);
        return array(p + 1, depth + 1, out);
      case 't':
        p = literal(p, "true");
        return !p ? nullptr : builder_.boolean(true, out) ? p : builder_failed();
      case 'f':
        p = literal(p, "false");
        return !p ? nullptr : builder_.boolean(false, out) ? p : builder_failed();
      case 'n':
        p = literal(p, "null");
        return !p ? nullptr : builder_.null(out) ? p : builder_failed();
      case '-':
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9':
        return number(p, out);
      default:
        return fail_at(p, JsonFault::ExpectedValue, JsonFault::EofWhileParsingValue);
    }
  }

  const char* literal(const char* p, const char* word) {
    for (size_t i = 1; word[i] != '\0'; ++i) {
      if (p[i] != word[i]) {
        return fail_at(p + i, JsonFault::ExpectedIdent, JsonFault::EofWhileParsingValue);
      }
    }
    return p + std::strlen(word);
  }

  const char* number(const char* p, Value& out) {
    JsonNumber n;
    JsonFault fault{};
    const char* at = nullptr;
    p = read_number<D>(p, end_, n, fault, at);
    if (!p) return fail(fault, at);
    bool built;
    switch (n.kind) {
      case JsonNumber::Kind::Unsigned:
        built = builder_.unsigned_integer(n.u, out);
        break;
      case JsonNumber::Kind::Signed:
        built = builder_.signed_integer(n.i, out);
        break;
      default:
        built = builder_.real(n.d, out);
        break;
    }
    return built ? p : builder_failed();
  }

  // Reads a string body from `p` (just past its opening quote) to past its closing quote.
  // `text` is the decoded text: in the input when `escaped` is false, else in scratch_ (valid
  // until the next string).
  const char* string(const char* p, std::string_view& text, bool& escaped) {
    const char* start = p;
    p = reader_detail::skip_plain_string_bytes(p);
    if (*p == '"') {
      text = std::string_view(start, static_cast<size_t>(p - start));
      escaped = false;
      return p + 1;
    }
    return string_with_specials(start, p, text, escaped);
  }

  const char* string_with_specials(const char* start, const char* p, std::string_view& text,
                                   bool& escaped) {
    escaped = false;
    const char* run = start;  // the first byte not yet copied into scratch_
    for (;;) {
      const auto c = static_cast<unsigned char>(*p);
      if (c == '"') {
        if (escaped) {
          scratch_.append(run, static_cast<size_t>(p - run));
          text = scratch_;
        } else {
          text = std::string_view(start, static_cast<size_t>(p - start));
        }
        return p + 1;
      }
      if (c == '\\') {
        if (!escaped) {
          escaped = true;
          scratch_.clear();
        }
        scratch_.append(run, static_cast<size_t>(p - run));
        p = escape(p);
        if (!p) return nullptr;
        run = p;
      } else if (c < 0x20) {
        return fail_at(p, JsonFault::ControlCharacter, JsonFault::EofWhileParsingString);
      } else {
        const char* next = reader_detail::utf8_sequence_end(p);
        if (!next) return fail(JsonFault::InvalidUtf8, p);
        p = next;
      }
      p = reader_detail::skip_plain_string_bytes(p);
    }
  }

  // Decodes the escape at `p` (a backslash) into scratch_; returns the position past it.
  const char* escape(const char* p) {
    const char e = p[1];
    char decoded;
    switch (e) {
      case '"':
        decoded = '"';
        break;
      case '\\':
        decoded = '\\';
        break;
      case '/':
        decoded = '/';
        break;
      case 'b':
        decoded = '\b';
        break;
      case 'f':
        decoded = '\f';
        break;
      case 'n':
        decoded = '\n';
        break;
      case 'r':
        decoded = '\r';
        break;
      case 't':
        decoded = '\t';
        break;
      case 'u':
        return unicode_escape(p);
      default:
        return fail_at(p + 1, JsonFault::InvalidEscape, JsonFault::EofWhileParsingString);
    }
    scratch_ += decoded;
    return p + 2;
  }

  // Four hex digits from `p`, or -1 with the fault set. The strict dialect takes the four
  // bytes whatever they are, as validate_json does: a fault is at the last of them, or at the
  // end when fewer remain.
  int32_t hex4(const char* p) {
    if (D == Dialect::Strict && end_ - p < 4) {
      fail(JsonFault::EofWhileParsingString, end_);
      return -1;
    }
    int32_t n = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = reader_detail::hex_value(p[i]);
      if (digit < 0) {
        if (D == Dialect::Strict) {
          fail(JsonFault::InvalidEscape, p + 3);
        } else {
          fail_at(p + i, JsonFault::InvalidEscape, JsonFault::EofWhileParsingString);
        }
        return -1;
      }
      n = n * 16 + digit;
    }
    return n;
  }

  // A \u escape at `p`, with its low surrogate escape when it is a high surrogate.
  const char* unicode_escape(const char* p) {
    const int32_t first = hex4(p + 2);
    if (first < 0) return nullptr;
    p += 6;
    if (first >= 0xDC00 && first <= 0xDFFF) return fail(JsonFault::LoneLeadingSurrogate, p - 1);
    if (first < 0xD800 || first > 0xDBFF) {
      reader_detail::append_utf8(scratch_, static_cast<uint32_t>(first));
      return p;
    }
    if (p[0] != '\\') {
      return fail_at(p, JsonFault::UnexpectedEndOfHexEscape, JsonFault::EofWhileParsingString);
    }
    if (p[1] != 'u') {
      return fail_at(p + 1, JsonFault::UnexpectedEndOfHexEscape, JsonFault::EofWhileParsingString);
    }
    const int32_t second = hex4(p + 2);
    if (second < 0) return nullptr;
    p += 6;
    if (second < 0xDC00 || second > 0xDFFF) return fail(JsonFault::LoneLeadingSurrogate, p - 1);
    const uint32_t cp =
        ((static_cast<uint32_t>(first) - 0xD800) << 10 | (static_cast<uint32_t>(second) - 0xDC00)) +
        0x10000;
    reader_detail::append_utf8(scratch_, cp);
    return p;
  }

  const char* array(const char* p, int depth, Value& out) {
    p = skip_whitespace(p);
    if (*p == ']') return builder_.array(nullptr, 0, out) ? p + 1 : builder_failed();
    if (p == end_) return fail(JsonFault::EofWhileParsingList, p);
    StackFrame<ItemStack> frame(items_);
    for (;;) {
      Value item;
      p = value(p, depth, item);
      if (!p) return nullptr;
      items_.push_back(std::move(item));
      p = skip_whitespace(p);
      if (*p == ',') {
        p = skip_whitespace(p + 1);
        if (*p == ']') return fail(JsonFault::TrailingComma, p);
        continue;
      }
      if (*p == ']') break;
      return fail_at(p, JsonFault::ExpectedListCommaOrEnd, JsonFault::EofWhileParsingList);
    }
    const size_t base = frame.base();
    if (!builder_.array(items_.data() + base, items_.size() - base, out)) return builder_failed();
    return p + 1;
  }

  std::string_view key_of(const Member& m) const {
    return m.source ? std::string_view(m.source, m.size)
                    : std::string_view(key_arena_.data() + m.offset, m.size);
  }

  const char* object(const char* p, int depth, Value& out) {
    p = skip_whitespace(p);
    Value object;
    if (!builder_.object(object)) return builder_failed();
    if (*p == '}') {
      out = std::move(object);
      return p + 1;
    }
    if (*p != '"') {
      return fail_at(p, JsonFault::KeyMustBeAString, JsonFault::EofWhileParsingObject);
    }
    StackFrame<MemberStack> frame(members_);
    const size_t arena_base = key_arena_.size();
    bool ascending = true;
    for (;;) {
      std::string_view text;
      bool escaped = false;
      p = string(p + 1, text, escaped);
      if (!p) return nullptr;
      Member m{Value(), Value(), escaped ? nullptr : text.data(), key_arena_.size(), text.size()};
      if (escaped) key_arena_.append(text);
      if (!builder_.key(text, !escaped, m.key)) return builder_failed();
      if (ascending && members_.size() > frame.base() &&
          !reader_detail::key_less(key_of(members_.back()), key_of(m))) {
        ascending = false;
      }
      p = skip_whitespace(p);
      if (*p != ':') return fail_at(p, JsonFault::ExpectedColon, JsonFault::EofWhileParsingObject);
      p = value(skip_whitespace(p + 1), depth, m.value);
      if (!p) return nullptr;
      members_.push_back(std::move(m));
      p = skip_whitespace(p);
      if (*p == ',') {
        p = skip_whitespace(p + 1);
        if (*p == '"') continue;
        if (*p == '}') return fail(JsonFault::TrailingComma, p);
        return fail_at(p, JsonFault::KeyMustBeAString, JsonFault::EofWhileParsingValue);
      }
      if (*p == '}') break;
      return fail_at(p, JsonFault::ExpectedObjectCommaOrEnd, JsonFault::EofWhileParsingObject);
    }
    Member* const first = members_.begin() + frame.base();
    if (!ascending) {
      // Stable: of the members under one key, the last in the text is added last.
      std::stable_sort(first, members_.end(), [this](const Member& a, const Member& b) {
        return reader_detail::key_less(key_of(a), key_of(b));
      });
    }
    for (Member* it = first; it != members_.end(); ++it) {
      if (!builder_.member(object, it->key, it->value)) return builder_failed();
    }
    key_arena_.resize(arena_base);
    out = std::move(object);
    return p + 1;
  }

  Builder& builder_;
  const char* begin_ = nullptr;
  const char* end_ = nullptr;
  JsonFault fault_ = JsonFault::ExpectedValue;
  const char* fault_at_ = nullptr;
  bool builder_failed_ = false;
  std::string scratch_;    // the decoded text of the string just read
  std::string key_arena_;  // decoded keys of the objects being read
  ItemStack items_;        // items of the arrays being read, innermost last
  MemberStack members_;    // members of the objects being read, innermost last
};

}  // namespace quorvane::document
