#include "db_engine_web_server/buffered_appender.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace quorvane::web_server {

Result<BufferedAppender> BufferedAppender::open(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return Err{std::strerror(errno)};
  return BufferedAppender(fd);
}

BufferedAppender::BufferedAppender(int fd) : fd_(fd) { buffer_.reserve(kCapacity); }

BufferedAppender::BufferedAppender(BufferedAppender&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), buffer_(std::move(other.buffer_)) {
  other.buffer_.clear();
}

BufferedAppender::~BufferedAppender() {
  if (fd_ < 0) return;
  (void)write_out();
  ::close(fd_);
}

Status BufferedAppender::append(std::string_view piece) {
  if (piece.size() > kCapacity - buffer_.size()) {
    if (Status s = write_out(); !s) return s;
  }
  if (piece.size() >= kCapacity) {
    size_t written = 0;
    return write_all(piece, written);
  }
  buffer_.append(piece.data(), piece.size());
  return Status::Ok();
}

Status BufferedAppender::write_out() {
  size_t written = 0;
  Status s = write_all(buffer_, written);
  buffer_.erase(0, written);
  return s;
}

Status BufferedAppender::write_all(std::string_view bytes, size_t& written) {
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + written, bytes.size() - written);
    if (n > 0) {
      written += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0) {
      return Err{std::strerror(errno)};
    } else {
      return Err{"failed to write the buffered data"};
    }
  }
  return Status::Ok();
}

}  // namespace quorvane::web_server
