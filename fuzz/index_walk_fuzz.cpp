// The index walk over arbitrary bytes in a padded buffer, as the writers hand it a stored
// document: the parser may refuse them, but then no key is given; a walker that has walked
// other documents before gives the same keys as a fresh one; every key holds the "." that
// joins a path and a value text.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "document/index_keys.h"
#include "fuzz_check.h"

using quorvane::fuzzing::fuzz_check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The writers keep one walker for all the documents they apply.
  static quorvane::KeyWalker reused;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  std::vector<std::string> keys;
  const bool parsed = reused.collect_keys(bytes, keys);
  fuzz_check(parsed || keys.empty(), "a refused document gave keys");
  for (const std::string& key : keys) {
    fuzz_check(key.find('.') != std::string::npos, "a key without a dot");
  }

  quorvane::KeyWalker fresh;
  std::vector<std::string> fresh_keys;
  fuzz_check(fresh.collect_keys(bytes, fresh_keys) == parsed, "walkers disagree on parsing");
  fuzz_check(fresh_keys == keys, "a reused walker gave other keys than a fresh one");
  return 0;
}
