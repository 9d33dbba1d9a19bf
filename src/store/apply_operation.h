// Applying one write operation inside an open write transaction whose tables are open: the
// one routine that every writer of the store (both writer threads and the replay of the
// write-ahead log) calls.
//
//  - insert: stores the document under the id, replacing any; the replaced version's index
//    entries are removed, then the new version's are added.
//  - upsert: removes the stored version and its index entries, then stores the document and
//    adds its index entries.
//  - delete: removes the stored version and its index entries.
// A document the store refuses to store gets no index entries. A version that does not parse
// adds or removes no entry. Errors are dropped: the operation that met them is left as far as
// it got and the writer goes on.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "document/doc_bytes.h"
#include "document/index_keys.h"
#include "store/write_transaction.h"

namespace quorvane::store {

enum class OpKind { Insert, Delete, Upsert };

// The store operation of a queue entry whose own kind is Insert, Delete or Upsert (both
// classes' write operations name them alike); nothing for any other kind.
template <class Kind>
std::optional<OpKind> store_op_kind(Kind kind) {
  if (kind == Kind::Insert) return OpKind::Insert;
  if (kind == Kind::Delete) return OpKind::Delete;
  if (kind == Kind::Upsert) return OpKind::Upsert;
  return std::nullopt;
}

// What a writer keeps for applying operations: the buffers the index walk reuses.
class OperationApplier {
 public:
  // Applies one operation; `doc` (null for delete) may be overwritten, as the walk parses it
  // in place. Returns false when the store refused to store the document, with the store's
  // message in `*refusal` when it is given.
  bool apply(WriteTransaction& txn, OpKind kind, std::string_view id, document::DocBytes* doc,
             std::string* refusal = nullptr);

 private:
  // The index upkeep, staged in `txn`: adds (index_document) or removes (unindex_document)
  // the entries (key, id) for every key that process_json_index gives for `doc`, which it
  // parses in place. A document that does not parse adds or removes nothing.
  void index_document(WriteTransaction& txn, std::string_view id, document::DocBytes& doc);
  void unindex_document(WriteTransaction& txn, std::string_view id, document::DocBytes& doc);

  document::IndexWalkBuffers walk_buffers_;
};

}  // namespace quorvane::store
