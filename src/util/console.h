// Lines on standard output and standard error that go out as they are printed: each line goes
// out with its line feed in one write, after whatever the stream held buffered, so that a reader
// of a pipe or of the file sees it whole, and lines of different threads never interleave.
#pragma once

#include <string_view>

namespace quorvane {

void print_stdout_line(std::string_view line);
void print_stderr_line(std::string_view line);

}  // namespace quorvane
