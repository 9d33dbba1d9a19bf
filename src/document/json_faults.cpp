#include "document/json_faults.h"

#include "document/json_errors.h"

namespace quorvane::document {

namespace {

const char* strict_message(JsonFault fault) {
  namespace e = json_error;
  switch (fault) {
    case JsonFault::EofWhileParsingValue:
      return e::kEofWhileParsingValue;
    case JsonFault::EofWhileParsingList:
      return e::kEofWhileParsingList;
    case JsonFault::EofWhileParsingObject:
      return e::kEofWhileParsingObject;
    case JsonFault::EofWhileParsingString:
      return e::kEofWhileParsingString;
    case JsonFault::ExpectedValue:
      return e::kExpectedValue;
    case JsonFault::ExpectedIdent:
      return e::kExpectedIdent;
    case JsonFault::ExpectedColon:
      return e::kExpectedColon;
    case JsonFault::ExpectedListCommaOrEnd:
      return e::kExpectedListCommaOrEnd;
    case JsonFault::ExpectedObjectCommaOrEnd:
      return e::kExpectedObjectCommaOrEnd;
    case JsonFault::KeyMustBeAString:
      return e::kKeyMustBeAString;
    case JsonFault::TrailingCharacters:
      return e::kTrailingCharacters;
    case JsonFault::TrailingComma:
      return e::kTrailingComma;
    case JsonFault::InvalidEscape:
      return e::kInvalidEscape;
    case JsonFault::InvalidNumber:
      return e::kInvalidNumber;
    case JsonFault::NumberOutOfRange:
    case JsonFault::IntegerOutOfRange:
      return e::kNumberOutOfRange;
    case JsonFault::ControlCharacter:
      return e::kControlCharacter;
    case JsonFault::InvalidUtf8:
    case JsonFault::InvalidUnicodeCodePoint:
      return e::kInvalidUnicodeCodePoint;
    case JsonFault::LoneLeadingSurrogate:
      return e::kLoneLeadingSurrogate;
    case JsonFault::UnexpectedEndOfHexEscape:
      return e::kUnexpectedEndOfHexEscape;
    case JsonFault::DepthLimitExceeded:
      return e::kRecursionLimitExceeded;
  }
  return e::kExpectedValue;
}

const char* simd_kind(JsonFault fault) {
  switch (fault) {
    case JsonFault::EofWhileParsingValue:
    case JsonFault::EofWhileParsingList:
    case JsonFault::EofWhileParsingObject:
    case JsonFault::EofWhileParsingString:
      return "Eof";
    case JsonFault::ExpectedValue:
      return "ExpectedValue";
    case JsonFault::ExpectedIdent:
      return "InvalidLiteral";
    case JsonFault::ExpectedColon:
      return "ExpectedObjectColon";
    case JsonFault::ExpectedListCommaOrEnd:
      return "ExpectedArrayCommaOrEnd";
    case JsonFault::ExpectedObjectCommaOrEnd:
      return "ExpectedObjectCommaOrEnd";
    case JsonFault::KeyMustBeAString:
      return "ExpectedObjectKey";
    case JsonFault::TrailingCharacters:
      return "TrailingData";
    case JsonFault::TrailingComma:
      return "TrailingComma";
    case JsonFault::InvalidEscape:
      return "InvalidEscape";
    case JsonFault::InvalidNumber:
    case JsonFault::NumberOutOfRange:
    case JsonFault::IntegerOutOfRange:
      return "InvalidNumber";
    case JsonFault::ControlCharacter:
      return "ControlCharacterInString";
    case JsonFault::InvalidUtf8:
      return "InvalidUtf8";
    case JsonFault::InvalidUnicodeCodePoint:
    case JsonFault::LoneLeadingSurrogate:
    case JsonFault::UnexpectedEndOfHexEscape:
      return "InvalidUnicodeEscape";
    case JsonFault::DepthLimitExceeded:
      return "DepthLimitExceeded";
  }
  return "Syntax";
}

// The byte as a character: ASCII as itself, any other byte as the code point of its value,
// so the text stays valid UTF-8.
void append_byte_as_character(std::string& out, unsigned char byte) {
  if (byte < 0x80) {
    out += static_cast<char>(byte);
  } else {
    out += static_cast<char>(0xC0 | (byte >> 6));
    out += static_cast<char>(0x80 | (byte & 0x3F));
  }
}

}  // namespace

std::string fault_text(Dialect dialect, JsonFault fault, std::string_view text, size_t offset) {
  if (dialect == Dialect::Strict)
    return json_error::at_position(text, offset, strict_message(fault));
  std::string out = simd_kind(fault);
  out += " at character ";
  out += std::to_string(offset);
  if (offset < text.size()) {
    out += " ('";
    append_byte_as_character(out, static_cast<unsigned char>(text[offset]));
    out += "')";
  }
  return out;
}

}  // namespace quorvane::document
