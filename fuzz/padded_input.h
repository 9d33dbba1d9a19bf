// PaddedInput: a copy of some bytes laid out exactly as the JSON reader may count on and no
// more: the bytes, then 16 readable bytes of which only the first is zero. The allocation ends
// there, so a read past the 16 is caught by AddressSanitizer, and the later padding bytes are
// not zero (they vary with the size), so a scan that does not stop at the zero acts on them.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace quorvane::fuzzing {

class PaddedInput {
 public:
  static constexpr size_t kPadding = 16;

  explicit PaddedInput(std::string_view bytes)
      : size_(bytes.size()), buffer_(std::make_unique<char[]>(bytes.size() + kPadding)) {
    if (!bytes.empty()) std::memcpy(buffer_.get(), bytes.data(), bytes.size());
    const char later = " 1a\""[bytes.size() % 4];
    std::memset(buffer_.get() + size_ + 1, later, kPadding - 1);
    buffer_[size_] = '\0';
  }

  const char* data() const { return buffer_.get(); }
  size_t size() const { return size_; }

 private:
  size_t size_;
  std::unique_ptr<char[]> buffer_;
};

}  // namespace quorvane::fuzzing
