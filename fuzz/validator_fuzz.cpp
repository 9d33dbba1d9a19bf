// validate_json over arbitrary bytes, next to the strict JSON reader over the same bytes:
//  - a refusal reads "<message> at line <l> column <c>" with one of the grammar's messages, and
//    <l>, <c> name a place in the text (l is 1 + the line feeds read, so a fault at a line feed
//    is column 0 of the next line): the end for the end-of-input messages, else a byte that can
//    be where that message is reported (for a control character, the byte before it);
//  - the grammar is the reader's: a text the reader accepts is valid, and a valid text the
//    reader refuses is refused for what the validator does not look at (UTF-8, depth, number
//    range, what \u escapes give);
//  - when both refuse with the same message, they name the same place, except that the
//    reader reports a control character at itself and the validator at the byte before it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "document/json_errors.h"
#include "document/json_faults.h"
#include "document/json_reader.h"
#include "document/validator.h"
#include "fuzz_check.h"
#include "json_text_builder.h"
#include "padded_input.h"

namespace {

namespace document = quorvane::document;
namespace err = document::json_error;
using quorvane::fuzzing::fuzz_check;

bool is_whitespace(unsigned char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Each message the validator reports and where it can be reported: at the end of the text, or
// at a byte that is none of `not_at` (nor whitespace) and, for control characters, below 0x20.
struct Placement {
  const char* message;
  bool at_end;
  std::string_view not_at;
};

constexpr std::string_view kValueStarts = "ntf-0123456789\"[{";
const Placement kPlacements[] = {
    {err::kEofWhileParsingValue, true, {}},
    {err::kEofWhileParsingList, true, {}},
    {err::kEofWhileParsingObject, true, {}},
    {err::kEofWhileParsingString, true, {}},
    {err::kExpectedValue, false, kValueStarts},
    {err::kExpectedIdent, false, {}},
    {err::kExpectedColon, false, ":"},
    {err::kExpectedListCommaOrEnd, false, ",]"},
    {err::kExpectedObjectCommaOrEnd, false, ",}"},
    {err::kKeyMustBeAString, false, "\""},
    {err::kTrailingCharacters, false, {}},
    {err::kInvalidEscape, false, {}},
    {err::kInvalidNumber, false, {}},  // at the end too, as in "-"
    {err::kControlCharacter, false, {}},
};

void check_error_text(std::string_view text, const std::string& error) {
  const size_t split = error.rfind(" at line ");
  fuzz_check(split != std::string::npos, "an error text without a position");
  unsigned long long line = 0, column = 0;
  int consumed = 0;
  fuzz_check(std::sscanf(error.c_str() + split, " at line %llu column %llu%n", &line, &column,
                         &consumed) == 2 &&
                 split + static_cast<size_t>(consumed) == error.size() && line >= 1,
             "a malformed position");
  const std::string message = error.substr(0, split);
  const Placement* placement = nullptr;
  for (const Placement& p : kPlacements) {
    if (message == p.message) placement = &p;
  }
  fuzz_check(placement != nullptr, "an unknown message");

  size_t line_start = 0;
  for (unsigned long long l = 1; l < line; ++l) {
    const size_t feed = text.find('\n', line_start);
    fuzz_check(feed != std::string_view::npos, "a line beyond the text");
    line_start = feed + 1;
  }
  const size_t line_end = std::min(text.find('\n', line_start), text.size());
  const bool names_the_end = line_end == text.size() && column == text.size() - line_start;
  if (placement->at_end) {
    fuzz_check(names_the_end, "an end-of-input fault not at the end");
    return;
  }
  // Column 0 names the line feed that ends the line before.
  fuzz_check(column >= 1 || line > 1, "column 0 of the first line for a fault at a byte");
  const size_t at = line_start + column - 1;
  fuzz_check(at < line_end, "a column beyond its line");
  const auto byte = static_cast<unsigned char>(text[at]);
  if (message == err::kControlCharacter) {
    fuzz_check(at + 1 < text.size() && static_cast<unsigned char>(text[at + 1]) < 0x20,
               "a control character fault not just before one");
  } else if (!placement->not_at.empty() || message == err::kTrailingCharacters) {
    fuzz_check(!is_whitespace(byte) &&
                   placement->not_at.find(static_cast<char>(byte)) == std::string_view::npos,
               "a fault at a byte that fits there");
  }
}

// Faults of the strict reader that the grammar alone does not see.
bool beyond_the_grammar(document::JsonFault fault) {
  using F = document::JsonFault;
  return fault == F::InvalidUtf8 || fault == F::DepthLimitExceeded ||
         fault == F::NumberOutOfRange || fault == F::InvalidUnicodeCodePoint ||
         fault == F::LoneLeadingSurrogate || fault == F::UnexpectedEndOfHexEscape;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string> error = document::validate_json(text);
  if (error) check_error_text(text, *error);

  using Reader =
      document::JsonReader<document::Dialect::Strict, quorvane::fuzzing::JsonTextBuilder>;
  const quorvane::fuzzing::PaddedInput input(text);
  quorvane::fuzzing::JsonTextBuilder builder(document::kStrictDepthLimit);
  builder.reading(input.data(), input.size());
  Reader reader(builder);
  quorvane::fuzzing::JsonTextBuilder::Value out;
  const bool read = reader.read(input.data(), input.size(), out) == Reader::Outcome::Ok;
  fuzz_check(!read || !error, "a text the reader accepts is refused");
  fuzz_check(read || error || beyond_the_grammar(reader.fault()),
             "a valid text the reader refuses for its grammar");
  if (!read && error) {
    const size_t reader_at = reader.fault_offset();
    const std::string reader_error =
        document::fault_text(document::Dialect::Strict, reader.fault(), text, reader_at);
    const bool same_message = reader_error.compare(0, reader_error.rfind(" at line "), *error, 0,
                                                   error->rfind(" at line ")) == 0;
    if (same_message && reader.fault() == document::JsonFault::ControlCharacter) {
      fuzz_check(
          reader_at >= 1 && *error == err::at_position(text, reader_at - 1, err::kControlCharacter),
          "a control character the validator reports elsewhere than before the reader's");
    } else if (same_message) {
      fuzz_check(reader_error == *error, "one fault placed differently by the two readers");
    }
  }
  return 0;
}
