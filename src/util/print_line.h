// Printing the progress and failure lines of background work (backups, log replay) on
// standard output or standard error, one whole line at a time.
#pragma once

#include <cstdio>
#include <string_view>

namespace quorvane {

// Writes `line` (which carries its own line feed) to `stream` at once, as a line-buffered
// stream would: anything already buffered in `stream` is flushed first, then the line goes
// to the stream's descriptor in one write, so that a reader of a pipe sees it whole and at
// once. Safe to call from any thread; a failure to write is ignored.
void print_line(std::FILE* stream, std::string_view line);

}  // namespace quorvane
