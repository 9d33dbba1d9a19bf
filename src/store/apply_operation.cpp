#include "store/apply_operation.h"

namespace quorvane::store {

namespace {

struct IndexUpdate {
  WriteTransaction* txn;
  std::string_view id;
  bool adding;
};

void update_index_entry(void* context, std::string_view key) {
  auto* u = static_cast<IndexUpdate*>(context);
  // Staged for the end of the batch, where a failure to add or remove one entry is dropped.
  u->txn->stage_index_change(key, u->id, u->adding);
}

}  // namespace

void OperationApplier::index_document(WriteTransaction& txn, std::string_view id,
                                      document::DocBytes& doc) {
  IndexUpdate update{&txn, id, true};
  (void)document::process_json_index(doc, walk_buffers_, update_index_entry, &update);
}

void OperationApplier::unindex_document(WriteTransaction& txn, std::string_view id,
                                        document::DocBytes& doc) {
  IndexUpdate update{&txn, id, false};
  (void)document::process_json_index(doc, walk_buffers_, update_index_entry, &update);
}

bool OperationApplier::apply(WriteTransaction& txn, OpKind kind, std::string_view id,
                             document::DocBytes* doc, std::string* refusal) {
  switch (kind) {
    case OpKind::Insert: {
      Result<std::optional<document::DocBytes>> replaced = txn.replace_document(id, doc->view());
      if (!replaced) {
        if (refusal) *refusal = replaced.error();
        return false;
      }
      if (replaced.value()) unindex_document(txn, id, *replaced.value());
      index_document(txn, id, *doc);
      return true;
    }
    case OpKind::Delete: {
      Result<std::optional<document::DocBytes>> removed = txn.remove_document(id);
      if (removed && removed.value()) unindex_document(txn, id, *removed.value());
      return true;
    }
    case OpKind::Upsert: {
      Result<std::optional<document::DocBytes>> removed = txn.remove_document(id);
      if (removed && removed.value()) unindex_document(txn, id, *removed.value());
      if (Status stored = txn.put_document(id, doc->view()); !stored) {
        if (refusal) *refusal = stored.error();
        return false;
      }
      index_document(txn, id, *doc);
      return true;
    }
  }
  return true;
}

}  // namespace quorvane::store
