// DocBytes: the bytes of one stored document, owned, followed by kDocPadding zero bytes that
// are not part of the document. The padding lets the writer threads parse an operation's own
// buffer in place with the SIMD parser (which reads past the end of its input) without a copy.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace quorvane::document {

inline constexpr size_t kDocPadding = 64;

class DocBytes {
 public:
  DocBytes() : buffer_(kDocPadding, '\0') {}

  static DocBytes copy_of(std::string_view bytes) {
    DocBytes doc;
    doc.buffer_.reserve(bytes.size() + kDocPadding);
    doc.buffer_.assign(bytes.data(), bytes.size());
    doc.buffer_.append(kDocPadding, '\0');
    doc.size_ = bytes.size();
    return doc;
  }

  // Takes over a buffer whose first `size` bytes are the document; pads it.
  static DocBytes adopt(std::string buffer) {
    DocBytes doc;
    doc.size_ = buffer.size();
    buffer.append(kDocPadding, '\0');
    doc.buffer_ = std::move(buffer);
    return doc;
  }

  std::string_view view() const { return std::string_view(buffer_.data(), size_); }
  char* data() { return buffer_.data(); }
  const char* data() const { return buffer_.data(); }
  size_t size() const { return size_; }
  // The document's bytes plus the padding that may be read (and overwritten) past them.
  size_t padded_size() const { return buffer_.size(); }

 private:
  std::string buffer_;
  size_t size_ = 0;
};

}  // namespace quorvane::document
