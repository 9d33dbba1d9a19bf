// Byte tests eight at a time on a 64-bit word, for the loops that scan JSON strings.
// Words are loaded in memory order on a little-endian machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quorvane::document::swar {

inline uint64_t load8(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// The `size` (1 to 7) bytes at `p`, read in at most two overlapping loads each way, with
// blanks (which no string test matches) where no byte was read. Bytes may repeat: the word is
// only fit for "is any byte ..." tests.
inline uint64_t load_short(const char* p, size_t size) {
  auto load = [](const char* q, auto width) {
    decltype(width) v;
    std::memcpy(&v, q, sizeof v);
    return static_cast<uint64_t>(v);
  };
  if (size >= 4) return load(p, uint32_t{}) | (load(p + size - 4, uint32_t{}) << 32);
  constexpr uint64_t kBlanks = 0x2020202020202020ULL;
  if (size >= 2) {
    return load(p, uint16_t{}) | (load(p + size - 2, uint16_t{}) << 16) | (kBlanks << 32);
  }
  return load(p, uint8_t{}) | (kBlanks << 8);
}

// The high bit of each byte of `word` that is below 0x20, a double quote or a backslash: the
// bytes a JSON string cannot hold as they stand. A borrow can mark a byte above one that truly
// matches, never below, so the lowest marked byte (first_marked) is always a true match.
inline uint64_t string_special_mask(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  constexpr uint64_t kHighs = 0x8080808080808080ULL;
  const uint64_t below_space = (word - kOnes * 0x20) & ~word;
  const uint64_t quote = word ^ (kOnes * '"');
  const uint64_t backslash = word ^ (kOnes * '\\');
  const uint64_t is_quote = (quote - kOnes) & ~quote;
  const uint64_t is_backslash = (backslash - kOnes) & ~backslash;
  return (below_space | is_quote | is_backslash) & kHighs;
}

// The index (0 to 7, in memory order) of the lowest marked byte of a non-zero mask.
inline size_t first_marked(uint64_t mask) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "bytes are loaded little-endian");
  return static_cast<size_t>(__builtin_ctzll(mask)) / 8;
}

// The offset of the first byte of s[i, n) that a JSON string cannot hold as it stands, or n.
inline size_t next_string_special(const char* s, size_t n, size_t i) {
  for (; n - i >= 8; i += 8) {
    if (const uint64_t mask = string_special_mask(load8(s + i))) return i + first_marked(mask);
  }
  if (i == n) return n;
  const uint64_t mask = string_special_mask(load_short(s + i, n - i));
  // load_short may repeat bytes, so the marked byte is found again in order.
  if (mask == 0) return n;
  for (; i < n; ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c == '"' || c == '\\') return i;
  }
  return n;
}

}  // namespace quorvane::document::swar
