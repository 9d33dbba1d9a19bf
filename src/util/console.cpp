#include "util/console.h"

#include <cstdio>

namespace quorvane {

namespace {

void print_line(std::FILE* stream, std::string_view line) {
  // One locked write per line, so lines of different threads never interleave.
  flockfile(stream);
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
  funlockfile(stream);
}

}  // namespace

void print_stdout_line(std::string_view line) { print_line(stdout, line); }
void print_stderr_line(std::string_view line) { print_line(stderr, line); }

}  // namespace quorvane
