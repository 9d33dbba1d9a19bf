// Plain file descriptors: an owning UniqueFd, opening a file, and the system's error texts.
//
// The program's own files (the write-ahead log, the activity log) are opened with
// close-on-exec and, when created, with the permission bits 0666 less the process's umask.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "util/result.h"

namespace quorvane {

// The system's text for an errno value ("No such file or directory").
std::string system_error_text(int err);

// Owns one file descriptor and closes it when released.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void reset();
  // Gives up the descriptor without closing it.
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};

// The refusal of a path that holds U+0000: the system would read it only up to that byte,
// and so open another file than the one named.
inline constexpr const char* kNulInPathText = "file name contained an unexpected NUL byte";
inline bool has_nul_byte(const std::string& path) { return path.find('\0') != std::string::npos; }

// open(2) with O_CLOEXEC added and mode 0666 for a created file. The error is the system's
// text, or kNulInPathText (errno EINVAL); `errno_out`, when given, receives the errno value of
// a failure.
Result<UniqueFd> open_file(const std::string& path, int flags, int* errno_out = nullptr);

// Writes all of `bytes` at the file's current position (retrying short writes and EINTR).
Status write_all(int fd, std::string_view bytes);

// Reads up to `size` bytes, fewer only at the end of the file. Returns how many were read.
Result<size_t> read_full(int fd, char* out, size_t size);

}  // namespace quorvane
