// Lines on standard output and standard error that go out as they are printed: each line is
// written with its line feed and flushed at once, so that a reader of a pipe sees it.
#pragma once

#include <string_view>

namespace quorvane {

void print_stdout_line(std::string_view line);
void print_stderr_line(std::string_view line);

}  // namespace quorvane
