// The refusal of a document that one store record cannot hold with its id: the write methods
// raise it, and the replay of a damaged write-ahead log prints it for a frame beyond the
// store's limit. The limit itself is the store's (store::fits_one_record). Touches no Python
// object.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "store/store.h"

namespace quorvane::methods {

// nullopt when a document of `doc_size` bytes fits one store record with `id`, else the
// message that refuses it.
inline std::optional<std::string> record_size_refusal(std::string_view id, size_t doc_size) {
  if (store::fits_one_record(id.size(), doc_size)) return std::nullopt;
  std::string message = "Document too large to store for ";
  message.append(id.data(), id.size());
  message += ": the id and the document take " + std::to_string(id.size() + doc_size) +
             " bytes, the store holds at most " + std::to_string(store::kMaxRecordBytes) +
             " bytes in one record";
  return message;
}

}  // namespace quorvane::methods
