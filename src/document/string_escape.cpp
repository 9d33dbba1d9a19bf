// Runs of bytes that need no escape are found eight at a time (a byte below 0x20, a quote or
// a backslash anywhere in a word sets that byte's high bit in the test; a short tail is read
// in overlapping loads) and copied whole.
#include "document/string_escape.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "document/swar.h"

namespace quorvane::document {

namespace {

// For each byte: 0 when it stands as it is, else the letter of its short escape, or 'u'.
constexpr std::array<char, 256> kEscapes = [] {
  std::array<char, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[c] = 'u';
  table['\b'] = 'b';
  table['\t'] = 't';
  table['\n'] = 'n';
  table['\f'] = 'f';
  table['\r'] = 'r';
  table['"'] = '"';
  table['\\'] = '\\';
  return table;
}();

void append_escape(std::string& out, unsigned char c) {
  const char letter = kEscapes[c];
  if (letter != 'u') {
    const char pair[2] = {'\\', letter};
    out.append(pair, 2);
    return;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  const char six[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
  out.append(six, 6);
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  const char* s = text.data();
  const size_t n = text.size();
  out.push_back('"');
  size_t run = 0;  // start of the bytes not yet copied
  for (size_t i = swar::next_string_special(s, n, 0); i < n;
       i = swar::next_string_special(s, n, run)) {
    out.append(s + run, i - run);
    append_escape(out, static_cast<unsigned char>(s[i]));
    run = i + 1;
  }
  out.append(s + run, n - run);
  out.push_back('"');
}

}  // namespace quorvane::document
