// DBEngineWebServer as Python sees it: its traits for the methods it shares with DBEngine
// (methods/class_traits.h) and the descriptions of the methods that are its own. Its get,
// get_many and scan_prefix parse with the SIMD parser, and every single-record write queued
// offers an activity log entry. The bodies are defined one file per concern: the constructor,
// close_engine, the context manager and queue_size beside the class object
// (db_engine_web_server_type.cpp), the bulk inserts with the writes, filter_by_metadata with
// the reads, trigger_backup on its own.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "binding/method.h"
#include "binding/python.h"
#include "db_engine_web_server/activity_log/log_op.h"
#include "db_engine_web_server/db_engine_web_server.h"
#include "db_engine_web_server/write_op.h"
#include "document/python/decoder.h"
#include "methods/class_traits.h"

namespace quorvane::db_engine_web_server {

using DBEngineWebServerObject = binding::Instance<DBEngineWebServer>;

inline const char* log_action(methods::WriteAction action) {
  switch (action) {
    case methods::WriteAction::Insert:
      return activity_log::kInsertAction;
    case methods::WriteAction::Upsert:
      return activity_log::kUpsertAction;
    case methods::WriteAction::Delete:
      return activity_log::kDeleteAction;
  }
  return activity_log::kInsertAction;
}

struct WebServerClass {
  using Engine = DBEngineWebServer;
  using Op = WriteOp;
  static constexpr const char* kName = "DBEngineWebServer";
  static constexpr document::python::Parser kIdReadParser = document::python::Parser::Simd;

  // Offered without waiting: lost when the log queue is full or its writer has gone.
  static void log_written(Engine& server, methods::WriteAction action, std::string_view id) {
    if (server.enable_logging()) {
      server.offer_log(activity_log::LogOp::single(log_action(action), std::string(id)));
    }
  }

  // DBEngineWebServer(path, backup_time=None, backup_dir=None, enable_logging=False).
  struct Constructor {
    static constexpr const char* kName = "__new__";
    static constexpr std::array kParameters{"path", "backup_time", "backup_dir", "enable_logging"};
    static constexpr size_t kRequired = 1;
    static constexpr std::array kDefaults{"None", "None", "False"};
    static std::optional<DBEngineWebServer> call(const binding::Arguments<4>& args);
  };

  // Ends the writers once they have handled what is queued; a second call does nothing.
  struct CloseEngine {
    static constexpr const char* kName = "close_engine";
    static constexpr std::array<const char*, 0> kParameters{};
    static constexpr binding::Borrow kBorrow = binding::Borrow::Exclusive;
    static PyObject* call(DBEngineWebServerObject& self, const binding::Arguments<0>& args);
  };

  // The bulk inserts queue what they can and hand back the records they refused.
  struct InsertMany {
    static constexpr const char* kName = "insert_many";
    static constexpr std::array kParameters{"records"};
    static constexpr binding::Borrow kBorrow = binding::Borrow::Shared;
    static PyObject* call(DBEngineWebServerObject& self, const binding::Arguments<1>& args);
  };

  struct InsertManyJson {
    static constexpr const char* kName = "insert_many_json";
    static constexpr std::array kParameters{"records"};
    static constexpr binding::Borrow kBorrow = binding::Borrow::Shared;
    static PyObject* call(DBEngineWebServerObject& self, const binding::Arguments<1>& args);
  };

  // One page of the documents filed under the key.
  struct FilterByMetadata {
    static constexpr const char* kName = "filter_by_metadata";
    static constexpr std::array kParameters{"index_key", "index_value", "limit", "offset"};
    static constexpr binding::Borrow kBorrow = binding::Borrow::Shared;
    static PyObject* call(DBEngineWebServerObject& self, const binding::Arguments<4>& args);
  };

  struct TriggerBackup {
    static constexpr const char* kName = "trigger_backup";
    static constexpr std::array kParameters{"target_path"};
    static constexpr binding::Borrow kBorrow = binding::Borrow::Shared;
    static PyObject* call(DBEngineWebServerObject& self, const binding::Arguments<1>& args);
  };

  // The context manager: __enter__ gives the instance back, __exit__ closes it.
  struct Enter {
    static constexpr const char* kName = "__enter__";
    static constexpr std::array<const char*, 0> kParameters{};
    static constexpr binding::Borrow kBorrow = binding::Borrow::None;
    static PyObject* call(DBEngineWebServerObject& self, const binding::Arguments<0>& args);
  };

  struct Exit {
    static constexpr const char* kName = "__exit__";
    static constexpr std::array kParameters{"_exc_type", "_exc_value", "_traceback"};
    static constexpr binding::Borrow kBorrow = binding::Borrow::Exclusive;
    static PyObject* call(DBEngineWebServerObject& self, const binding::Arguments<3>& args);
  };

  // The read-only property queue_size.
  struct QueueSize {
    static constexpr const char* kName = "queue_size";
    static constexpr std::array<const char*, 0> kParameters{};
    static constexpr binding::Borrow kBorrow = binding::Borrow::Shared;
    static PyObject* call(DBEngineWebServerObject& self, const binding::Arguments<0>& args);
  };

  using OwnMethods = binding::MethodList<TriggerBackup, Enter, Exit>;
  using Getters = binding::MethodList<QueueSize>;
};

static_assert(methods::ClassTraits<WebServerClass>);

// The class object, created on first use; a borrowed reference, or null with an exception set.
PyObject* db_engine_web_server_type();

}  // namespace quorvane::db_engine_web_server
