// validate_json: checks that a caller's text is exactly one JSON value of any kind, by the
// grammar alone: no nesting limit (an explicit stack, no recursion), no number range, no check
// of what \u escapes give, no check of repeated keys. Builds nothing and touches no Python
// object, so it may run with the GIL released.
//
// The error text has the form "<message> at line <n> column <m>"; the empty text gives
// "EOF while parsing a value at line 1 column 0".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvane::document {

// nullopt when `text` is valid JSON, else the error text.
std::optional<std::string> validate_json(std::string_view text);

}  // namespace quorvane::document
