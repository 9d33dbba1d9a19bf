// The operations on DBEngineWebServer's write queue and apply queue: tagged records that own
// their texts and bytes and move through the queues by value.
//
//   Insert (id, document)   framed in the write-ahead log with op byte 1
//   Delete (id)             op byte 2
//   Upsert (id, document)   op byte 3
//   Backup (target path)    not framed; the database writer starts a backup after its batch
//   Shutdown                not framed; ends the writer threads
#pragma once

#include <cstdint>
#include <string>

#include "document/doc_bytes.h"

namespace quorvane::db_engine_web_server {

struct WriteOp {
  enum class Kind : uint8_t { Insert, Delete, Upsert, Backup, Shutdown };

  Kind kind = Kind::Shutdown;
  std::string id;          // the document id, or the target path of a Backup
  document::DocBytes doc;  // empty but for Insert and Upsert

  static WriteOp insert(std::string id, document::DocBytes doc) {
    return {Kind::Insert, std::move(id), std::move(doc)};
  }
  static WriteOp upsert(std::string id, document::DocBytes doc) {
    return {Kind::Upsert, std::move(id), std::move(doc)};
  }
  static WriteOp remove(std::string id) { return {Kind::Delete, std::move(id), {}}; }
  static WriteOp backup(std::string target_path) {
    return {Kind::Backup, std::move(target_path), {}};
  }
  static WriteOp shutdown() { return {Kind::Shutdown, {}, {}}; }

  bool is_framed() const {
    return kind == Kind::Insert || kind == Kind::Delete || kind == Kind::Upsert;
  }
};

}  // namespace quorvane::db_engine_web_server
