#include "util/file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quorvane {

std::string system_error_text(int err) { return std::strerror(err); }

void UniqueFd::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

Result<UniqueFd> open_file(const std::string& path, int flags, int* errno_out) {
  if (has_nul_byte(path)) {
    if (errno_out) *errno_out = EINVAL;
    return Err{kNulInPathText};
  }
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int err = errno;
    if (errno_out) *errno_out = err;
    return Err{system_error_text(err)};
  }
  return UniqueFd(fd);
}

Status write_all(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Err{system_error_text(errno)};
    }
    if (n == 0) return Err{"failed to write the whole buffer"};
    p += n;
    left -= static_cast<size_t>(n);
  }
  return Status::Ok();
}

Result<size_t> read_full(int fd, char* out, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, out + got, size - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Err{system_error_text(errno)};
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

}  // namespace quorvane
