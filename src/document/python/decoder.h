// decode_document and the list decoders: stored bytes parsed and built into Python objects
// directly, with the GIL held. Every decoded dict iterates its keys in ascending byte order
// at every level, whatever order the stored text had; a repeated key keeps its last value.
//
// Two parsers:
//  - Parser::Strict: nests at most 127 arrays and objects (the 128th level is refused with
//    "recursion limit exceeded"); an integer literal that fits neither 64-bit range becomes a
//    float; a number whose float is infinite is refused; \u escapes must give valid
//    characters (surrogate pairs joined). Errors read "<message> at line <n> column <m>".
//  - Parser::Simd: integer literals outside both 64-bit ranges are refused with the error
//    kind InvalidNumber; errors read "<Kind> at character <i> ('<c>')", or
//    "<Kind> at character <i>" when no character is known.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "binding/python.h"
#include "document/doc_bytes.h"
#include "document/python/key_cache.h"

namespace quorvane::document::python {

enum class Parser { Strict, Simd };

struct DecodeFailure {
  enum class Stage { Parse, Conversion, NotDict };
  Stage stage = Stage::Parse;
  std::string text;  // empty for NotDict
};

using Entry = std::pair<std::string, DocBytes>;
using OptionalEntry = std::pair<std::string, std::optional<DocBytes>>;

// A new dict, or null with `failure` filled and no Python exception pending. `bytes` may be
// overwritten. `keys`, when given, supplies (and keeps) the str objects of dict keys: a caller
// that decodes one document after another (a store instance's get) keeps one across calls.
PyObject* decode_document(DocBytes& bytes, Parser parser, DecodeFailure& failure,
                          KeyCache* keys = nullptr);

// A new list of (id, dict) tuples in the order of `entries`, or null at the first failure.
// Without `keys`, the call keeps a key cache of its own for its documents.
PyObject* decode_entries(std::vector<Entry>& entries, Parser parser, DecodeFailure& failure,
                         KeyCache* keys = nullptr);

// The same, an entry without bytes giving (id, None) without being parsed.
PyObject* decode_optional_entries(std::vector<OptionalEntry>& entries, Parser parser,
                                  DecodeFailure& failure, KeyCache* keys = nullptr);

// The messages a read method raises for each stage: `parse` and `conversion` hold one "{}"
// for the failure's text; NotDict is always "Database entry is not a valid JSON/Dictionary".
struct DecodeMessages {
  const char* parse;
  const char* conversion;
};

inline constexpr DecodeMessages kGetMessages{"Json parsing error {}", "Error while pythonizing {}"};
inline constexpr DecodeMessages kListMessages{"Json Parse Error {}", "Pythonize Error {}"};

// Sets the RuntimeError of `failure` under `messages`.
void raise_decode_failure(const DecodeFailure& failure, const DecodeMessages& messages);

}  // namespace quorvane::document::python
