// The metadata index keys of a document, as process_json_index walks them: for every non-null
// scalar leaf, its dotted path (object member names and array positions joined by "."), then
// ".", then the value's text. Nothing is quoted or escaped, so unlike documents can give the
// same key.
//
//   {"user": {"city": "Paris", "tags": ["a"]}, "n": 3, "r": 2.0, "ok": true, "x": null}
//   gives user.city.Paris, user.tags.0.a, n.3, r.2, ok.true
//
// Value texts: a string's characters after unescaping; integers (-2^63 .. 2^64-1) in
// decimal; other numbers as the shortest plain decimal that reads back as the same double,
// without an exponent; true and false. A scalar at the root has the empty path (".7").
//
// The document is parsed with the SIMD parser in its own padded buffer, which it may
// overwrite. A document that the parser refuses (integers beyond 64 bits, nesting deeper
// than the parser's 1024 levels, anything not JSON) gives no key at all.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "document/doc_bytes.h"

namespace quorvane::document {

class IndexWalkBuffers;

using IndexKeyCallback = void (*)(void* context, std::string_view key);

// Walks `doc` and calls `emit(context, key)` once per leaf (a key two leaves share is given
// twice). Returns false, having called nothing, when the document does not parse. `buffers`
// is the walk's reusable state.
bool process_json_index(DocBytes& doc, IndexWalkBuffers& buffers, IndexKeyCallback emit,
                        void* context);

// Convenience for tests: the keys of `json` (copied into a padded buffer), or false when it
// does not parse.
bool collect_index_keys(std::string_view json, IndexWalkBuffers& buffers,
                        std::vector<std::string>& keys);

// The parser and the path and key texts that the walk reuses from one document to the next:
// a writer keeps one for every document it indexes, so that the walk allocates only while
// documents grow (the memory a document larger than 16 MiB needed is given back after it).
class IndexWalkBuffers {
 public:
  IndexWalkBuffers();
  ~IndexWalkBuffers();
  IndexWalkBuffers(const IndexWalkBuffers&) = delete;
  IndexWalkBuffers& operator=(const IndexWalkBuffers&) = delete;

 private:
  friend bool process_json_index(DocBytes& doc, IndexWalkBuffers& buffers, IndexKeyCallback emit,
                                 void* context);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quorvane::document
