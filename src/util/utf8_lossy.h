// Decoding bytes as UTF-8 with every invalid sequence replaced by U+FFFD, one replacement for
// each maximal part of an ill-formed sequence (a lead byte followed by as many fitting
// continuation bytes as it has before the sequence goes wrong), as the Unicode standard
// recommends. Valid text comes back unchanged.
#pragma once

#include <string>
#include <string_view>

namespace quorvane {

std::string utf8_lossy(std::string_view bytes);

}  // namespace quorvane
