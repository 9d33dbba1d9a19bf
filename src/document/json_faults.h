// The faults the JSON reader of decode_document can meet, and the texts they read as in each of
// its two dialects:
//  - Strict: the grammar's own messages (json_errors.h) followed by " at line <l> column <c>";
//  - Simd: "<Kind> at character <i> ('<c>')", the byte index and the byte there, or
//    "<Kind> at character <i>" when the fault is at the end of the input.
// Pure C++: no Python object is touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvane::document {

enum class Dialect { Strict, Simd };

// How deeply arrays and objects may nest: the strict dialect reads 127 levels and refuses the
// 128th; the simd dialect's bound keeps any document from exhausting the stack.
inline constexpr int kStrictDepthLimit = 127;
inline constexpr int kSimdDepthLimit = 1024;

enum class JsonFault : uint8_t {
  EofWhileParsingValue,
  EofWhileParsingList,
  EofWhileParsingObject,
  EofWhileParsingString,
  ExpectedValue,
  ExpectedIdent,  // a literal (true, false, null) misspelt
  ExpectedColon,
  ExpectedListCommaOrEnd,
  ExpectedObjectCommaOrEnd,
  KeyMustBeAString,
  TrailingCharacters,
  TrailingComma,
  InvalidEscape,
  InvalidNumber,
  NumberOutOfRange,   // a float that would be infinite, or its exponent beyond 32 bits
  IntegerOutOfRange,  // an integer literal beyond both 64-bit ranges (simd dialect only)
  ControlCharacter,
  InvalidUtf8,
  InvalidUnicodeCodePoint,
  LoneLeadingSurrogate,
  UnexpectedEndOfHexEscape,
  DepthLimitExceeded,
};

// The error text of `fault` met at byte `offset` of `text`; `offset` == text.size() means at
// its end.
std::string fault_text(Dialect dialect, JsonFault fault, std::string_view text, size_t offset);

}  // namespace quorvane::document
