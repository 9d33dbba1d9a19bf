// The error texts of the strict JSON grammar, shared by validate_json and the strict parser of
// decode_document so that one fault reads the same in both, and the position they end with.
//
// Position: "<message> at line <l> column <c>", where reading stood when it stopped: lines
// counted from 1, the column being the number of bytes read on the current line. A fault at a
// byte is reported once that byte is read: its column counted from 1, or, when the byte is a
// line feed, column 0 of the line it begins. A fault at the end of the input has the number of
// bytes on the last line (so the empty text is line 1, column 0).
//
// One fault is placed differently by the two readers: a control character inside a string.
// validate_json stops before it (the fault is at the byte before it), decode_document once it
// is read (the fault is at the control character itself).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane::document::json_error {

inline constexpr const char* kEofWhileParsingValue = "EOF while parsing a value";
inline constexpr const char* kEofWhileParsingList = "EOF while parsing a list";
inline constexpr const char* kEofWhileParsingObject = "EOF while parsing an object";
inline constexpr const char* kEofWhileParsingString = "EOF while parsing a string";
inline constexpr const char* kExpectedValue = "expected value";
inline constexpr const char* kExpectedIdent = "expected ident";
inline constexpr const char* kExpectedColon = "expected `:`";
inline constexpr const char* kExpectedListCommaOrEnd = "expected `,` or `]`";
inline constexpr const char* kExpectedObjectCommaOrEnd = "expected `,` or `}`";
inline constexpr const char* kKeyMustBeAString = "key must be a string";
inline constexpr const char* kTrailingCharacters = "trailing characters";
inline constexpr const char* kTrailingComma = "trailing comma";
inline constexpr const char* kInvalidEscape = "invalid escape";
inline constexpr const char* kInvalidNumber = "invalid number";
inline constexpr const char* kNumberOutOfRange = "number out of range";
inline constexpr const char* kControlCharacter =
    "control character (\\u0000-\\u001F) found while parsing a string";
inline constexpr const char* kInvalidUnicodeCodePoint = "invalid unicode code point";
inline constexpr const char* kLoneLeadingSurrogate = "lone leading surrogate in hex escape";
inline constexpr const char* kUnexpectedEndOfHexEscape = "unexpected end of hex escape";
inline constexpr const char* kRecursionLimitExceeded = "recursion limit exceeded";

// "<message> at line <l> column <c>" for a fault at byte `offset` of `text`, or at its end
// when `offset` == text.size().
inline std::string at_position(std::string_view text, size_t offset, const char* message) {
  // The bytes read when the fault is reported: through the fault's byte, or all of them.
  const size_t read = offset < text.size() ? offset + 1 : text.size();
  size_t line = 1, line_start = 0;
  for (size_t i = 0; i < read; ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  const size_t column = read - line_start;
  std::string out = message;
  out += " at line " + std::to_string(line) + " column " + std::to_string(column);
  return out;
}

}  // namespace quorvane::document::json_error
