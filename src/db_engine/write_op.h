// The operations on DBEngine's write queue: tagged records that own their id and document
// and move through the queue by value.
#pragma once

#include <cstdint>
#include <string>

#include "document/doc_bytes.h"

namespace quorvane::db_engine {

struct WriteOp {
  enum class Kind : uint8_t { Insert, Delete, Upsert, Shutdown };

  Kind kind = Kind::Shutdown;
  std::string id;
  document::DocBytes doc;  // empty for Delete and Shutdown

  static WriteOp insert(std::string id, document::DocBytes doc) {
    return {Kind::Insert, std::move(id), std::move(doc)};
  }
  static WriteOp upsert(std::string id, document::DocBytes doc) {
    return {Kind::Upsert, std::move(id), std::move(doc)};
  }
  static WriteOp remove(std::string id) { return {Kind::Delete, std::move(id), {}}; }
  static WriteOp shutdown() { return {Kind::Shutdown, {}, {}}; }
};

}  // namespace quorvane::db_engine
