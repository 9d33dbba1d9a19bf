// DBEngine's write methods. The single-record ones are the bodies shared with
// DBEngineWebServer (methods/single_writes.h). The bulk inserts prepare and send one record
// at a time with the GIL held; the first record that fails ends the call with its message, and
// the records sent before it stay queued.
#include <string>
#include <utility>
#include <vector>

#include "binding/args.h"
#include "binding/borrow.h"
#include "binding/errors.h"
#include "binding/process_owner.h"
#include "binding/records.h"
#include "db_engine/db_engine_methods.h"
#include "db_engine/db_engine_object.h"
#include "methods/single_writes.h"
#include "methods/write_steps.h"

namespace quorvane::db_engine {

namespace {

constexpr methods::RefusalMessage kBulkEncodeMessage{"Failed to serialize dict for {}.{}", true};
constexpr methods::RefusalMessage kBulkValidationMessage{"Invalid json in payload for id {}.{}",
                                                         true};

bool send(DBEngine& engine, WriteOp op) {
  if (engine.send(std::move(op))) return true;
  methods::raise_send_failure(methods::kSendFailedPattern);
  return false;
}

}  // namespace

PyObject* db_engine_insert(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  return methods::insert<DBEngineMethods>(self, args, nargs, kwnames);
}

PyObject* db_engine_upsert(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  return methods::upsert<DBEngineMethods>(self, args, nargs, kwnames);
}

PyObject* db_engine_delete(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  return methods::remove<DBEngineMethods>(self, args, nargs, kwnames);
}

PyObject* db_engine_insert_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return methods::insert_json<DBEngineMethods>(self, args, nargs, kwnames);
}

PyObject* db_engine_insert_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    if (!py::owned_here(DBEngineMethods::owner(self))) return nullptr;
    static const py::Signature sig{"insert_many", "DBEngine", {"records"}, 1};
    PyObject* argv[1];
    if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
    py::SharedBorrow borrow(as_engine(self)->borrow);
    if (!borrow.ok()) return nullptr;
    std::vector<py::DictRecord> records;
    if (!py::extract_dict_records(argv[0], "records", records)) return nullptr;
    DBEngine& engine = as_engine(self)->engine;
    if (!methods::worker_running(engine.worker_alive())) return nullptr;
    for (py::DictRecord& record : records) {
      DocBytes doc;
      if (!methods::accept_or_raise(
              methods::encode_payload(record.dict.get(), record.id, kBulkEncodeMessage, doc))) {
        return nullptr;
      }
      if (!send(engine, WriteOp::insert(std::move(record.id), std::move(doc)))) return nullptr;
    }
    Py_RETURN_NONE;
  });
}

PyObject* db_engine_insert_many_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    if (!py::owned_here(DBEngineMethods::owner(self))) return nullptr;
    static const py::Signature sig{"insert_many_json", "DBEngine", {"records"}, 1};
    PyObject* argv[1];
    if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
    py::SharedBorrow borrow(as_engine(self)->borrow);
    if (!borrow.ok()) return nullptr;
    std::vector<py::JsonRecord> records;
    if (!py::extract_json_records(argv[0], "records", records)) return nullptr;
    DBEngine& engine = as_engine(self)->engine;
    if (!methods::worker_running(engine.worker_alive())) return nullptr;
    for (py::JsonRecord& record : records) {
      if (!methods::accept_or_raise(
              methods::check_json_payload(record.text.view(), record.id, kBulkValidationMessage))) {
        return nullptr;
      }
      if (!send(engine, WriteOp::insert(std::move(record.id), std::move(record.text)))) {
        return nullptr;
      }
    }
    Py_RETURN_NONE;
  });
}

}  // namespace quorvane::db_engine
