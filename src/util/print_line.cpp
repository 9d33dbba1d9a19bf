#include "util/print_line.h"

#include <unistd.h>

#include <cerrno>

namespace quorvane {

void print_line(std::FILE* stream, std::string_view line) {
  flockfile(stream);
  std::fflush(stream);
  const int fd = fileno(stream);
  size_t done = 0;
  while (fd >= 0 && done < line.size()) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  funlockfile(stream);
}

}  // namespace quorvane
