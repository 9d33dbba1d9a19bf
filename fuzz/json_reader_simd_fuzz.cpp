// The JSON reader of decode_document in its simd dialect over arbitrary bytes: see
// json_reader_checks.h for what is checked.
#include <cstddef>
#include <cstdint>

#include "json_reader_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quorvane::fuzzing::check_json_reader<quorvane::document::Dialect::Simd>(data, size);
  return 0;
}
