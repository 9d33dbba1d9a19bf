// BufferedFileWriter: an output buffer of a fixed capacity in front of an open file.
//
// write() puts a piece into the buffer; a piece that does not fit into the free space first
// makes the whole buffer be written out, and a piece as large as the capacity or larger then
// goes to the file directly. Nothing else writes the file: flush() writes out what is buffered
// (to the operating system; nothing is ever forced to disk). When a write-out fails, the bytes
// not written stay buffered and the system's error text is returned.
//
// Releasing the writer writes out what is still buffered, ignoring an error, and closes the
// file.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "util/file.h"
#include "util/result.h"

namespace quorvane {

class BufferedFileWriter {
 public:
  BufferedFileWriter(UniqueFd file, size_t capacity);
  BufferedFileWriter(const BufferedFileWriter&) = delete;
  BufferedFileWriter& operator=(const BufferedFileWriter&) = delete;
  ~BufferedFileWriter();

  Status write(std::string_view piece);
  Status flush();
  // Sets the file's length (the position is left where it is).
  Status set_length(off_t length);
  // Writes out what is buffered, then moves the position to the start of the file.
  Status rewind();

  size_t buffered() const { return buffer_.size(); }

 private:
  UniqueFd file_;
  size_t capacity_;
  std::string buffer_;
};

}  // namespace quorvane
