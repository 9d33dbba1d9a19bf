// DBEngine as Python sees it: its traits for the methods it shares with DBEngineWebServer
// (methods/class_traits.h) and the descriptions of the methods that are its own. Its reads
// parse with the strict parser, and it keeps no activity log. The bodies are defined one file
// per concern: the constructor and close_engine beside the class object (db_engine_type.cpp),
// the bulk inserts with the writes, filter_by_metadata with the reads.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "binding/method.h"
#include "binding/python.h"
#include "db_engine/db_engine.h"
#include "db_engine/write_op.h"
#include "document/python/decoder.h"
#include "methods/class_traits.h"

namespace quorvane::db_engine {

using DBEngineObject = binding::Instance<DBEngine>;

struct DBEngineClass {
  using Engine = DBEngine;
  using Op = WriteOp;
  static constexpr const char* kName = "DBEngine";
  static constexpr document::python::Parser kIdReadParser = document::python::Parser::Strict;

  static void log_written(Engine& /*engine*/, methods::WriteAction /*action*/,
                          std::string_view /*id*/) {}

  // DBEngine(path): opens the store, failing with the store's message.
  struct Constructor {
    static constexpr const char* kName = "__new__";
    static constexpr std::array kParameters{"path"};
    static std::optional<DBEngine> call(const binding::Arguments<1>& args);
  };

  // Ends the worker once it has applied what is queued; a second call fails.
  struct CloseEngine {
    static constexpr const char* kName = "close_engine";
    static constexpr std::array<const char*, 0> kParameters{};
    static constexpr binding::Borrow kBorrow = binding::Borrow::Exclusive;
    static PyObject* call(DBEngineObject& self, const binding::Arguments<0>& args);
  };

  // The bulk inserts stop at the first record that fails, with its message.
  struct InsertMany {
    static constexpr const char* kName = "insert_many";
    static constexpr std::array kParameters{"records"};
    static constexpr binding::Borrow kBorrow = binding::Borrow::Shared;
    static PyObject* call(DBEngineObject& self, const binding::Arguments<1>& args);
  };

  struct InsertManyJson {
    static constexpr const char* kName = "insert_many_json";
    static constexpr std::array kParameters{"records"};
    static constexpr binding::Borrow kBorrow = binding::Borrow::Shared;
    static PyObject* call(DBEngineObject& self, const binding::Arguments<1>& args);
  };

  // Every document filed under the key, without paging.
  struct FilterByMetadata {
    static constexpr const char* kName = "filter_by_metadata";
    static constexpr std::array kParameters{"index_key", "index_value"};
    static constexpr binding::Borrow kBorrow = binding::Borrow::Shared;
    static PyObject* call(DBEngineObject& self, const binding::Arguments<2>& args);
  };

  using OwnMethods = binding::MethodList<>;
  using Getters = binding::MethodList<>;
};

static_assert(methods::ClassTraits<DBEngineClass>);

// The class object, created on first use; a borrowed reference, or null with an exception set.
PyObject* db_engine_type();

}  // namespace quorvane::db_engine
