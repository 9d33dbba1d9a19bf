// Byte tests eight at a time on a 64-bit word, for the loops that scan JSON strings.
#pragma once

#include <cstdint>
#include <cstring>

namespace quorvane::document::swar {

inline uint64_t load8(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// True when any byte of `word` is below 0x20, a double quote or a backslash: the bytes a JSON
// string cannot hold as they stand. Exact for "any" (a borrow can only mark a byte above one
// that truly matches).
inline bool has_string_special(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kHighs = 0x8080808080808080ULL;
  const uint64_t below_space = (word - kOnes * 0x20) & ~word;
  const uint64_t quote = word ^ (kOnes * '"');
  const uint64_t backslash = word ^ (kOnes * '\\');
  const uint64_t is_quote = (quote - kOnes) & ~quote;
  const uint64_t is_backslash = (backslash - kOnes) & ~backslash;
  return ((below_space | is_quote | is_backslash) & kHighs) != 0;
}

}  // namespace quorvane::document::swar
