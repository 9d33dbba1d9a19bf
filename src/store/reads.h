// The storage steps of the read methods: SQL only, no Python object, so they run with the GIL
// released. Each leases a read connection, runs its statements (prepared once per connection)
// in one snapshot of what writers have committed, and hands back owned copies of the stored
// data; nothing of the store outlives the step. Every error is the store's message unchanged.
//
// Ids and keys compare as bytes (BINARY collation): "A" < "a" < "a:1" < "a:10" < "a:2" < "ab".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "document/doc_bytes.h"
#include "store/store.h"
#include "util/result.h"

namespace quorvane::store {

using DocumentEntry = std::pair<std::string, document::DocBytes>;
using OptionalDocumentEntry = std::pair<std::string, std::optional<document::DocBytes>>;

// The stored document of `id`, or nothing when none is stored. A failing lookup is an error.
Result<std::optional<document::DocBytes>> read_document(Store& store, std::string_view id);

// One entry per id, in the given order, duplicates looked up again; an absent id gives
// (id, nothing). All lookups read one snapshot. An empty list still opens the table, so its
// failures are reported.
Result<std::vector<OptionalDocumentEntry>> read_documents(Store& store,
                                                          std::vector<std::string> ids);

// (id, document) for every id that starts with `prefix`, ascending. The scan starts at the
// prefix and stops at the first id that does not start with it; the empty prefix takes every
// document.
Result<std::vector<DocumentEntry>> read_prefix(Store& store, std::string_view prefix);

// (id, document) for every id filed under the metadata index key `key` whose document is
// stored, ascending by id; an index entry that outlived its document is skipped.
Result<std::vector<DocumentEntry>> read_metadata_matches(Store& store, std::string_view key);

// A page of the ids filed under `key`: the window of at most `limit` index entries (no limit
// when absent) starting at position `offset` (0 when absent) of the ids in ascending order,
// and (id, document) for each entry of the window whose document is stored. An entry without
// a document uses up its place in the window and gives nothing, so a page may hold fewer than
// `limit` entries although later entries exist. A limit of 0 gives an empty page (the key is
// still looked up). Counts beyond what the store can hold mean "all" (limit) and "past the
// end" (offset).
Result<std::vector<DocumentEntry>> read_metadata_page(Store& store, std::string_view key,
                                                      std::optional<uint64_t> limit,
                                                      std::optional<uint64_t> offset);

}  // namespace quorvane::store
