// Writing a UTF-8 text as a JSON string, as stored documents hold it: the text between double
// quotes, with `"` and `\` preceded by a backslash, U+0008, U+0009, U+000A, U+000C and U+000D
// written as \b \t \n \f \r, every other character below U+0020 as \u00 and two lowercase
// hexadecimal digits, and every other byte (U+007F and all non-ASCII characters included) as
// it stands.
#pragma once

#include <string>
#include <string_view>

namespace quorvane::document {

// Appends `text` to `out` as a JSON string, quotes included. `text` must be valid UTF-8.
void append_json_string(std::string& out, std::string_view text);

}  // namespace quorvane::document
