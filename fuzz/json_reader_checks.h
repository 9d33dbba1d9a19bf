// What the fuzz targets of the JSON reader check, one dialect each, on arbitrary bytes laid out
// as the reader's input contract says (PaddedInput):
//  - the promises JsonTextBuilder checks while the value is built;
//  - a refusal is at a byte of the input or at its end, and its text can be made; a refusal
//    for depth is at the opening bracket of the first level beyond the dialect's limit;
//  - an accepted value, rendered as compact JSON with sorted keys, reads back to the same
//    rendering (through the same reader, which is meant to be reused).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "document/json_faults.h"
#include "document/json_reader.h"
#include "fuzz_check.h"
#include "json_text_builder.h"
#include "padded_input.h"

namespace quorvane::fuzzing {

// The arrays and objects open just before `offset` of a text whose bytes before `offset` are
// a well-formed beginning of a JSON value.
inline int open_levels_before(std::string_view text, size_t offset) {
  int open = 0;
  bool in_string = false;
  for (size_t i = 0; i < offset; ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      ++open;
    } else if (c == ']' || c == '}') {
      --open;
    }
  }
  return open;
}

template <document::Dialect D>
void check_json_reader(const uint8_t* data, size_t size) {
  using Reader = document::JsonReader<D, JsonTextBuilder>;
  constexpr int kLimit =
      D == document::Dialect::Strict ? document::kStrictDepthLimit : document::kSimdDepthLimit;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const PaddedInput input(text);
  JsonTextBuilder builder(kLimit);
  Reader reader(builder);

  builder.reading(input.data(), input.size());
  JsonTextBuilder::Value out;
  const typename Reader::Outcome outcome = reader.read(input.data(), input.size(), out);
  fuzz_check(outcome != Reader::Outcome::BuilderFailed, "a builder that never fails failed");
  if (outcome == Reader::Outcome::Fault) {
    const size_t at = reader.fault_offset();
    fuzz_check(at <= size, "a fault beyond the end of the input");
    fuzz_check(!document::fault_text(D, reader.fault(), text, at).empty(), "an empty fault text");
    if (reader.fault() == document::JsonFault::DepthLimitExceeded) {
      fuzz_check(at < size && (text[at] == '[' || text[at] == '{'),
                 "a depth fault not at an opening bracket");
      fuzz_check(open_levels_before(text, at) == kLimit, "a depth fault at another depth");
    }
    return;
  }

  const std::string rendering = out.rendering();
  const PaddedInput again(rendering);
  builder.reading(again.data(), again.size());
  JsonTextBuilder::Value reread;
  fuzz_check(reader.read(again.data(), again.size(), reread) == Reader::Outcome::Ok,
             "the rendering of an accepted value is refused");
  fuzz_check(reread.rendering() == rendering, "the rendering reads back to another rendering");
}

}  // namespace quorvane::fuzzing
