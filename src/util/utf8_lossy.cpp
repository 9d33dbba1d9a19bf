#include "util/utf8_lossy.h"

#include <cstdint>

namespace quorvane {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of the valid sequence that starts at `i`, or 0 when it is ill-formed; then
// `bad` is the length of its maximal ill-formed part (at least 1).
size_t sequence_length(std::string_view s, size_t i, size_t& bad) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  const uint8_t lead = byte(i);
  size_t need;
  uint8_t lo = 0x80, hi = 0xBF;  // the range of the second byte
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 3;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 4;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
  } else {
    bad = 1;
    return 0;
  }
  for (size_t k = 1; k < need; ++k) {
    const bool fits = i + k < s.size() && byte(i + k) >= (k == 1 ? lo : 0x80) &&
                      byte(i + k) <= (k == 1 ? hi : 0xBF);
    if (!fits) {
      bad = k;
      return 0;
    }
  }
  return need;
}

}  // namespace

std::string utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    size_t bad = 0;
    const size_t n = sequence_length(bytes, i, bad);
    if (n > 0) {
      out.append(bytes.data() + i, n);
      i += n;
    } else {
      out.append(kReplacement);
      i += bad;
    }
  }
  return out;
}

}  // namespace quorvane
