// A file opened for appending behind an output buffer of 8192 bytes: the activity log's file.
//
// The buffer is written out only when a piece does not fit into its free space and when the
// owner asks (write_out), never per piece or per line, so the file receives chunks of up to
// 8192 bytes that need not end at a line's end. Nothing is ever forced to disk.
#pragma once

#include <string>
#include <string_view>

#include "util/result.h"

namespace quorvane::web_server {

class BufferedAppender {
 public:
  static constexpr size_t kCapacity = 8192;

  // Opens `path` write-only for appending (O_APPEND, close-on-exec), creating it when missing
  // with mode 0666 less the umask; never truncates it. Fails with the system's error text.
  static Result<BufferedAppender> open(const std::string& path);

  BufferedAppender(BufferedAppender&& other) noexcept;
  BufferedAppender& operator=(BufferedAppender&&) = delete;
  BufferedAppender(const BufferedAppender&) = delete;
  BufferedAppender& operator=(const BufferedAppender&) = delete;
  // Tries once more to write out what is still buffered, ignoring any error, and closes the
  // file.
  ~BufferedAppender();

  // Adds `piece`. When it does not fit into the free space, the whole buffer is written out
  // first; a piece of kCapacity bytes or more then goes to the file directly, a smaller one
  // into the buffer. Fails with the system's error text when a write fails; the bytes not
  // written stay buffered.
  Status append(std::string_view piece);

  // Writes out everything buffered. On failure the bytes not written stay buffered.
  Status write_out();

  size_t buffered() const { return buffer_.size(); }

 private:
  explicit BufferedAppender(int fd);
  // Writes all of `bytes` to the file; `written` counts what got there.
  Status write_all(std::string_view bytes, size_t& written);

  int fd_;
  std::string buffer_;
};

}  // namespace quorvane::web_server
