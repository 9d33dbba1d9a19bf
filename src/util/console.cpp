#include "util/console.h"

#include <cstdio>
#include <string>

#include "util/file.h"

namespace quorvane {

namespace {

void print_line(std::FILE* stream, std::string_view line) {
  std::string text;
  text.reserve(line.size() + 1);
  text.append(line);
  text.push_back('\n');
  // The stream's own writes would cut the line: stdio writes an unbuffered stream (standard
  // error) in pieces, and a line longer than a buffered stream's buffer too. Under the
  // stream's lock, so that no other line comes between, the stream's buffer goes out first.
  flockfile(stream);
  std::fflush(stream);
  (void)write_all(fileno(stream), text);
  funlockfile(stream);
}

}  // namespace

void print_stdout_line(std::string_view line) { print_line(stdout, line); }
void print_stderr_line(std::string_view line) { print_line(stderr, line); }

}  // namespace quorvane
