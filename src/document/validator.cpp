// One pass over the bytes with an explicit stack of open containers, one bit per level (the
// first 4096 levels inline, deeper ones in a vector), so that no input can exhaust the call
// stack and a document of ordinary depth allocates nothing. Runs of plain string bytes are
// skipped eight at a time.
//
// The order of the checks decides which fault a broken text reports: after an opening bracket
// or a comma a value (or, in an object, a key) is expected, so "[1,]" reports the "]" where a
// value should be and {"a":1,} the "}" where a key should be.
#include "document/validator.h"

#include <array>
#include <cstdint>
#include <vector>

#include "document/json_errors.h"
#include "document/swar.h"

namespace quorvane::document {

namespace {

namespace err = json_error;

// The containers open at the current position: for each level, whether it is an object.
class ContainerStack {
 public:
  bool empty() const { return depth_ == 0; }

  void push(bool object) {
    uint64_t& word = word_at(depth_ / 64);
    const size_t bit = depth_ % 64;
    // Levels are pushed in order, so a word's first level writes it whole: the inline words
    // need no clearing.
    const uint64_t others = bit == 0 ? 0 : word & ~(uint64_t{1} << bit);
    word = others | (uint64_t{object} << bit);
    ++depth_;
  }

  void pop() { --depth_; }

  bool top_is_object() const {
    const size_t level = depth_ - 1;
    const size_t index = level / 64;
    const uint64_t word = index < kInlineWords ? inline_[index] : spill_[index - kInlineWords];
    return (word >> (level % 64)) & 1;
  }

 private:
  static constexpr size_t kInlineWords = 64;

  uint64_t& word_at(size_t index) {
    if (index < kInlineWords) return inline_[index];
    if (index - kInlineWords == spill_.size()) spill_.push_back(0);
    return spill_[index - kInlineWords];
  }

  std::array<uint64_t, kInlineWords> inline_;  // written before read, see push()
  std::vector<uint64_t> spill_;
  size_t depth_ = 0;
};

constexpr std::array<bool, 256> kHexDigit = [] {
  std::array<bool, 256> table{};
  for (int c = '0'; c <= '9'; ++c) table[c] = true;
  for (int c = 'a'; c <= 'f'; ++c) table[c] = true;
  for (int c = 'A'; c <= 'F'; ++c) table[c] = true;
  return table;
}();

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

class Validator {
 public:
  explicit Validator(std::string_view text) : s_(text.data()), n_(text.size()) {}

  // True when the text is one JSON value; otherwise the fault is in offset_ and message_.
  bool run();

  size_t offset() const { return offset_; }
  const char* message() const { return message_; }

 private:
  bool fail(size_t offset, const char* message) {
    offset_ = offset;
    message_ = message;
    return false;
  }

  void skip_whitespace() {
    while (pos_ < n_) {
      const char c = s_[pos_];
      if (c != ' ' && c != '\n' && c != '\r' && c != '\t') return;
      ++pos_;
    }
  }

  bool literal(const char* word, size_t size);
  bool number();
  bool string();  // from just after the opening quote
  bool escape();  // from just after the backslash

  const char* s_;
  size_t n_;
  size_t pos_ = 0;
  size_t offset_ = 0;
  const char* message_ = nullptr;
};

bool Validator::run() {
  ContainerStack open;
  for (;;) {
    // A value is expected here.
    skip_whitespace();
    if (pos_ == n_) return fail(pos_, err::kEofWhileParsingValue);
    bool after_value = true;
    switch (s_[pos_]) {
      case 'n':
        if (!literal("null", 4)) return false;
        break;
      case 't':
        if (!literal("true", 4)) return false;
        break;
      case 'f':
        if (!literal("false", 5)) return false;
        break;
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
        if (!number()) return false;
        break;
      case '"':
        ++pos_;
        if (!string()) return false;
        break;
      case '[':
        open.push(false);
        ++pos_;
        after_value = false;
        break;
      case '{':
        open.push(true);
        ++pos_;
        after_value = false;
        break;
      default:
        return fail(pos_, err::kExpectedValue);
    }
    if (open.empty()) break;

    // Inside a container, after one of its values or just after its opening bracket: a
    // comma, the closing bracket (which may close enclosing containers in turn) or, after
    // the opening bracket, the first member.
    bool closed_all = false;
    for (;;) {
      skip_whitespace();
      const bool object = open.top_is_object();
      if (pos_ == n_) {
        return fail(pos_, object ? err::kEofWhileParsingObject : err::kEofWhileParsingList);
      }
      const char c = s_[pos_];
      if (c == ',' && after_value) {
        ++pos_;
        break;
      }
      if (c == (object ? '}' : ']')) {
        ++pos_;
        open.pop();
        if (open.empty()) {
          closed_all = true;
          break;
        }
        after_value = true;
        continue;
      }
      if (after_value) {
        return fail(pos_, object ? err::kExpectedObjectCommaOrEnd : err::kExpectedListCommaOrEnd);
      }
      break;
    }
    if (closed_all) break;

    if (open.top_is_object()) {
      skip_whitespace();
      if (pos_ == n_) return fail(pos_, err::kEofWhileParsingObject);
      if (s_[pos_] != '"') return fail(pos_, err::kKeyMustBeAString);
      ++pos_;
      if (!string()) return false;
      skip_whitespace();
      if (pos_ == n_) return fail(pos_, err::kEofWhileParsingObject);
      if (s_[pos_] != ':') return fail(pos_, err::kExpectedColon);
      ++pos_;
    }
  }
  skip_whitespace();
  if (pos_ != n_) return fail(pos_, err::kTrailingCharacters);
  return true;
}

bool Validator::literal(const char* word, size_t size) {
  if (n_ - pos_ >= size && std::char_traits<char>::compare(s_ + pos_, word, size) == 0) {
    pos_ += size;
    return true;
  }
  ++pos_;
  for (size_t i = 1; i < size; ++i, ++pos_) {
    if (pos_ == n_) return fail(pos_, err::kEofWhileParsingValue);
    if (s_[pos_] != word[i]) return fail(pos_, err::kExpectedIdent);
  }
  return true;
}

bool Validator::number() {
  if (s_[pos_] == '-') ++pos_;
  if (pos_ == n_) return fail(pos_, err::kInvalidNumber);
  if (s_[pos_] == '0') {
    ++pos_;
    if (pos_ < n_ && is_digit(s_[pos_])) return fail(pos_, err::kInvalidNumber);
  } else if (is_digit(s_[pos_])) {
    ++pos_;
    while (pos_ < n_ && is_digit(s_[pos_])) ++pos_;
  } else {
    return fail(pos_, err::kInvalidNumber);
  }
  if (pos_ < n_ && s_[pos_] == '.') {
    ++pos_;
    const size_t digits = pos_;
    while (pos_ < n_ && is_digit(s_[pos_])) ++pos_;
    if (pos_ == digits) return fail(pos_, err::kInvalidNumber);
  }
  if (pos_ < n_ && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
    ++pos_;
    if (pos_ < n_ && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
    if (pos_ == n_ || !is_digit(s_[pos_])) return fail(pos_, err::kInvalidNumber);
    ++pos_;
    while (pos_ < n_ && is_digit(s_[pos_])) ++pos_;
  }
  return true;
}

bool Validator::string() {
  for (;;) {
    pos_ = swar::next_string_special(s_, n_, pos_);
    if (pos_ == n_) return fail(pos_, err::kEofWhileParsingString);
    const char c = s_[pos_];
    if (c == '"') {
      ++pos_;
      return true;
    }
    // A control character is not taken: the fault is where reading stopped, at the byte
    // before it (inside a string, so there is always one: the opening quote at least).
    if (c != '\\') return fail(pos_ - 1, err::kControlCharacter);
    ++pos_;
    if (!escape()) return false;
  }
}

bool Validator::escape() {
  if (pos_ == n_) return fail(pos_, err::kEofWhileParsingString);
  switch (s_[pos_]) {
    case '"':
    case '\\':
    case '/':
    case 'b':
    case 'f':
    case 'n':
    case 'r':
    case 't':
      ++pos_;
      return true;
    case 'u': {
      ++pos_;
      // Four bytes are taken whatever they are; the fault, if any, is reported at the last.
      if (n_ - pos_ < 4) return fail(n_, err::kEofWhileParsingString);
      for (size_t i = 0; i < 4; ++i) {
        if (!kHexDigit[static_cast<unsigned char>(s_[pos_ + i])]) {
          return fail(pos_ + 3, err::kInvalidEscape);
        }
      }
      pos_ += 4;
      return true;
    }
    default:
      return fail(pos_, err::kInvalidEscape);
  }
}

}  // namespace

std::optional<std::string> validate_json(std::string_view text) {
  Validator validator(text);
  if (validator.run()) return std::nullopt;
  return json_error::at_position(text, validator.offset(), validator.message());
}

}  // namespace quorvane::document
