#include "util/buffered_writer.h"

#include <unistd.h>

#include <cerrno>

namespace quorvane {

BufferedFileWriter::BufferedFileWriter(UniqueFd file, size_t capacity)
    : file_(std::move(file)), capacity_(capacity) {
  buffer_.reserve(capacity_);
}

BufferedFileWriter::~BufferedFileWriter() { (void)flush(); }

Status BufferedFileWriter::write(std::string_view piece) {
  if (buffer_.size() + piece.size() > capacity_) {
    if (Status s = flush(); !s) return s;
  }
  if (piece.size() >= capacity_) return write_all(file_.get(), piece);
  buffer_.append(piece.data(), piece.size());
  return Status::Ok();
}

Status BufferedFileWriter::flush() {
  size_t written = 0;
  while (written < buffer_.size()) {
    const ssize_t n = ::write(file_.get(), buffer_.data() + written, buffer_.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::string error =
          n < 0 ? system_error_text(errno) : std::string("failed to write the buffered data");
      buffer_.erase(0, written);
      return Err{error};
    }
    written += static_cast<size_t>(n);
  }
  buffer_.clear();
  return Status::Ok();
}

Status BufferedFileWriter::set_length(off_t length) {
  if (::ftruncate(file_.get(), length) != 0) return Err{system_error_text(errno)};
  return Status::Ok();
}

Status BufferedFileWriter::rewind() {
  if (Status s = flush(); !s) return s;
  if (::lseek(file_.get(), 0, SEEK_SET) < 0) return Err{system_error_text(errno)};
  return Status::Ok();
}

}  // namespace quorvane
