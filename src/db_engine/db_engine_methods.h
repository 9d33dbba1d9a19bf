// DBEngine's traits for the method bodies it shares with DBEngineWebServer (see
// methods/class_traits.h): the strict parser for every read, the instance's store handle used
// in place by the storage steps, and no activity log.
#pragma once

#include <string_view>

#include "binding/borrow.h"
#include "binding/process_owner.h"
#include "binding/python.h"
#include "db_engine/db_engine_object.h"
#include "db_engine/write_op.h"
#include "document/decoder.h"
#include "methods/class_traits.h"
#include "store/store.h"

namespace quorvane::db_engine {

struct DBEngineMethods {
  using Engine = DBEngine;
  using Op = WriteOp;
  static constexpr const char* kName = "DBEngine";
  static constexpr document::Parser kIdReadParser = document::Parser::Strict;

  static const py::ProcessOwner& owner(PyObject* self) { return as_engine(self)->owner; }
  static py::BorrowFlag& borrow(PyObject* self) { return as_engine(self)->borrow; }
  static Engine& engine(PyObject* self) { return as_engine(self)->engine; }
  static document::KeyCache* key_cache(PyObject* self) { return &as_engine(self)->keys; }
  // The shared borrow of the instance keeps the store open for the whole read.
  static store::Store* store_share(Engine& engine) { return &engine.db(); }
  static void log_written(Engine&, methods::WriteAction, std::string_view) {}
};

}  // namespace quorvane::db_engine
