// BufferedFileReader: sequential reads of an open file through an input buffer, for reading
// many small records without a system call each.
#pragma once

#include <string>

#include "util/file.h"
#include "util/result.h"

namespace quorvane {

class BufferedFileReader {
 public:
  // Reads `file`, which it does not own, from its current position.
  explicit BufferedFileReader(int file, size_t capacity = size_t{64} * 1024);
  BufferedFileReader(const BufferedFileReader&) = delete;
  BufferedFileReader& operator=(const BufferedFileReader&) = delete;

  // Reads up to `size` bytes into `out`: fewer only at the end of the file. Returns how many
  // were read, or the system's error text.
  Result<size_t> read(char* out, size_t size);

 private:
  int file_;
  std::string buffer_;
  size_t start_ = 0;
  size_t end_ = 0;
};

}  // namespace quorvane
