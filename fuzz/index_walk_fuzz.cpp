// The index walk over arbitrary bytes in a padded buffer, as the writers hand it a stored
// document: the parser may refuse them, but then no key is given; buffers that have walked
// other documents before give the same keys as fresh ones; every key holds the "." that
// joins a path and a value text.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "document/index_keys.h"
#include "fuzz_check.h"

using quorvane::fuzzing::fuzz_check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The writers keep one set of buffers for all the documents they apply.
  static quorvane::document::IndexWalkBuffers reused;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  std::vector<std::string> keys;
  const bool parsed = quorvane::document::collect_index_keys(bytes, reused, keys);
  fuzz_check(parsed || keys.empty(), "a refused document gave keys");
  for (const std::string& key : keys) {
    fuzz_check(key.find('.') != std::string::npos, "a key without a dot");
  }

  quorvane::document::IndexWalkBuffers fresh;
  std::vector<std::string> fresh_keys;
  fuzz_check(quorvane::document::collect_index_keys(bytes, fresh, fresh_keys) == parsed,
             "reused and fresh buffers disagree on parsing");
  fuzz_check(fresh_keys == keys, "reused buffers gave other keys than fresh ones");
  return 0;
}
