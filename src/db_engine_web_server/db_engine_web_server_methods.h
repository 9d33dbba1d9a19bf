// DBEngineWebServer's traits for the method bodies it shares with DBEngine (see
// methods/class_traits.h): the SIMD parser for get, get_many and scan_prefix, a share of the
// store handle held by each storage step, and an activity log offer after every queued write.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "binding/borrow.h"
#include "binding/process_owner.h"
#include "binding/python.h"
#include "db_engine_web_server/db_engine_web_server_object.h"
#include "db_engine_web_server/log_op.h"
#include "db_engine_web_server/write_op.h"
#include "document/decoder.h"
#include "methods/class_traits.h"
#include "store/store.h"

namespace quorvane::web_server {

inline const char* log_action(methods::WriteAction action) {
  switch (action) {
    case methods::WriteAction::Insert:
      return kInsertAction;
    case methods::WriteAction::Upsert:
      return kUpsertAction;
    case methods::WriteAction::Delete:
      return kDeleteAction;
  }
  return kInsertAction;
}

struct WebServerMethods {
  using Engine = DBEngineWebServer;
  using Op = WriteOp;
  static constexpr const char* kName = "DBEngineWebServer";
  static constexpr document::Parser kIdReadParser = document::Parser::Simd;

  static const py::ProcessOwner& owner(PyObject* self) { return as_server(self)->owner; }
  static py::BorrowFlag& borrow(PyObject* self) { return as_server(self)->borrow; }
  static Engine& engine(PyObject* self) { return as_server(self)->server; }
  static document::KeyCache* key_cache(PyObject* self) { return &as_server(self)->keys; }
  // Taken with the GIL held; the storage step releases it when it ends.
  static std::shared_ptr<store::Store> store_share(Engine& server) { return server.db_handle(); }
  // Offered without waiting: lost when the log queue is full or its writer has gone.
  static void log_written(Engine& server, methods::WriteAction action, std::string_view id) {
    if (server.enable_logging())
      server.offer_log(LogOp::single(log_action(action), std::string(id)));
  }
};

}  // namespace quorvane::web_server
