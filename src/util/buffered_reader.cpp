#include "util/buffered_reader.h"

#include <algorithm>
#include <cstring>

namespace quorvane {

BufferedFileReader::BufferedFileReader(int file, size_t capacity)
    : file_(file), buffer_(capacity, '\0') {}

Result<size_t> BufferedFileReader::read(char* out, size_t size) {
  size_t got = 0;
  while (got < size) {
    if (start_ == end_) {
      // Large reads bypass the buffer once it is empty.
      if (size - got >= buffer_.size()) {
        Result<size_t> direct = read_full(file_, out + got, size - got);
        if (!direct) return direct;
        return got + direct.value();
      }
      Result<size_t> filled = read_full(file_, buffer_.data(), buffer_.size());
      if (!filled) return filled;
      start_ = 0;
      end_ = filled.value();
      if (end_ == 0) break;
    }
    const size_t n = std::min(size - got, end_ - start_);
    std::memcpy(out + got, buffer_.data() + start_, n);
    start_ += n;
    got += n;
  }
  return got;
}

}  // namespace quorvane
