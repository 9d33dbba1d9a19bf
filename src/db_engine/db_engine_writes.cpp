// DBEngine's write methods. Each matches its arguments, takes the shared borrow, converts its
// arguments in parameter order, tests that the worker is alive, then encodes or validates and
// sends one operation per document. Everything runs with the GIL held, the blocking send
// included: the worker never needs the GIL, so a full queue drains while the caller waits.
//
// A document that one store record cannot hold (with its id) is refused here, before it is
// queued, rather than dropped by the worker after the call has returned.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/args.h"
#include "binding/borrow.h"
#include "binding/errors.h"
#include "binding/records.h"
#include "channel/channel.h"
#include "db_engine/db_engine_object.h"
#include "document/encoder.h"
#include "document/validator.h"
#include "store/store.h"
#include "util/format.h"

namespace quorvane::db_engine {

namespace {

bool worker_running(DBEngine& engine) {
  if (engine.worker_alive()) return true;
  py::raise_runtime_error("Background write worker has crashed!");
  return false;
}

bool fits_one_record(std::string_view id, size_t doc_size) {
  if (std::optional<std::string> message = store::record_size_error(id, doc_size)) {
    py::raise_runtime_error(*message);
    return false;
  }
  return true;
}

// Encodes `dict` into `out`; on failure raises `conversion_pattern` (or the encoding message)
// with the id and the failure's text.
bool encode(PyObject* dict, std::string_view id, const char* conversion_pattern, DocBytes& out) {
  document::EncodeFailure failure;
  if (document::encode_document(dict, out, failure)) return fits_one_record(id, out.size());
  const char* pattern = failure.stage == document::EncodeFailure::Stage::Conversion
                            ? conversion_pattern
                            : "Failed to encode bytes for {}.{}";
  py::raise_runtime_error(format_message(pattern, {id, failure.text}));
  return false;
}

bool validate(std::string_view text, std::string_view id, const char* pattern) {
  if (std::optional<std::string> error = document::validate_json(text)) {
    py::raise_runtime_error(format_message(pattern, {id, *error}));
    return false;
  }
  return true;
}

bool send(DBEngine& engine, WriteOp op) {
  if (engine.send(std::move(op))) return true;
  py::raise_runtime_error(
      format_message("Write queue full or closed. {}", {channel::kDisconnectedText}));
  return false;
}

// insert and upsert: (id, payload) encoded into one operation made by `make_op`.
template <class MakeOp>
PyObject* write_document(PyObject* self, const py::Signature& sig, PyObject* const* args,
                         Py_ssize_t nargs, PyObject* kwnames, MakeOp make_op) {
  PyObject* argv[2];
  if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
  py::SharedBorrow borrow(as_engine(self)->borrow);
  if (!borrow.ok()) return nullptr;
  std::string_view id;
  if (!py::extract_str(argv[0], "id", id)) return nullptr;
  if (!py::extract_dict(argv[1], "payload")) return nullptr;
  DBEngine& engine = as_engine(self)->engine;
  if (!worker_running(engine)) return nullptr;
  DocBytes doc;
  if (!encode(argv[1], id, "Error converting dict to Rust bytes for {}.{}", doc)) return nullptr;
  if (!send(engine, make_op(std::string(id), std::move(doc)))) return nullptr;
  Py_RETURN_NONE;
}

}  // namespace

PyObject* db_engine_insert(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    static const py::Signature sig{"insert", "DBEngine", {"id", "payload"}, 2};
    return write_document(self, sig, args, nargs, kwnames, WriteOp::insert);
  });
}

PyObject* db_engine_upsert(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    static const py::Signature sig{"upsert", "DBEngine", {"id", "payload"}, 2};
    return write_document(self, sig, args, nargs, kwnames, WriteOp::upsert);
  });
}

PyObject* db_engine_delete(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    static const py::Signature sig{"delete", "DBEngine", {"id"}, 1};
    PyObject* argv[1];
    if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
    py::SharedBorrow borrow(as_engine(self)->borrow);
    if (!borrow.ok()) return nullptr;
    std::string_view id;
    if (!py::extract_str(argv[0], "id", id)) return nullptr;
    DBEngine& engine = as_engine(self)->engine;
    if (!worker_running(engine)) return nullptr;
    if (!send(engine, WriteOp::remove(std::string(id)))) return nullptr;
    Py_RETURN_NONE;
  });
}

PyObject* db_engine_insert_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    static const py::Signature sig{"insert_json", "DBEngine", {"id", "json_payload"}, 2};
    PyObject* argv[2];
    if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
    py::SharedBorrow borrow(as_engine(self)->borrow);
    if (!borrow.ok()) return nullptr;
    std::string_view id, text;
    if (!py::extract_str(argv[0], "id", id)) return nullptr;
    if (!py::extract_str(argv[1], "json_payload", text)) return nullptr;
    DBEngine& engine = as_engine(self)->engine;
    if (!worker_running(engine)) return nullptr;
    if (!validate(text, id, "Validation error at {}.{}")) return nullptr;
    if (!fits_one_record(id, text.size())) return nullptr;
    if (!send(engine, WriteOp::insert(std::string(id), DocBytes::copy_of(text)))) return nullptr;
    Py_RETURN_NONE;
  });
}

// The bulk inserts prepare and send one record at a time; the first failing record ends the
// call, and the records sent before it stay queued.
PyObject* db_engine_insert_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    static const py::Signature sig{"insert_many", "DBEngine", {"records"}, 1};
    PyObject* argv[1];
    if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
    py::SharedBorrow borrow(as_engine(self)->borrow);
    if (!borrow.ok()) return nullptr;
    std::vector<py::DictRecord> records;
    if (!py::extract_dict_records(argv[0], "records", records)) return nullptr;
    DBEngine& engine = as_engine(self)->engine;
    if (!worker_running(engine)) return nullptr;
    for (py::DictRecord& record : records) {
      DocBytes doc;
      if (!encode(record.dict.get(), record.id, "Failed to serialize dict for {}.{}", doc)) {
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
    static const py::Signature sig{"insert_many_json", "DBEngine", {"records"}, 1};
    PyObject* argv[1];
    if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
    py::SharedBorrow borrow(as_engine(self)->borrow);
    if (!borrow.ok()) return nullptr;
    std::vector<py::JsonRecord> records;
    if (!py::extract_json_records(argv[0], "records", records)) return nullptr;
    DBEngine& engine = as_engine(self)->engine;
    if (!worker_running(engine)) return nullptr;
    for (py::JsonRecord& record : records) {
      if (!validate(record.text.view(), record.id, "Invalid json in payload for id {}.{}")) {
        return nullptr;
      }
      if (!fits_one_record(record.id, record.text.size())) return nullptr;
      if (!send(engine, WriteOp::insert(std::move(record.id), std::move(record.text)))) {
        return nullptr;
      }
    }
    Py_RETURN_NONE;
  });
}

}  // namespace quorvane::db_engine
