// DBEngine's read methods: get, get_many, scan_prefix and filter_by_metadata.
//
// Each runs in two halves: the storage step (store/reads.h) with the GIL released, copying
// bytes out of one snapshot, then the decoding of those bytes into dicts with the GIL held.
// The instance is borrowed shared for the whole call, so close_engine cannot run meanwhile.
#include <string>
#include <string_view>
#include <vector>

#include "binding/args.h"
#include "binding/borrow.h"
#include "binding/errors.h"
#include "binding/records.h"
#include "binding/gil.h"
#include "db_engine/db_engine_object.h"
#include "document/decoder.h"
#include "store/reads.h"

namespace quorvane::db_engine {

namespace {

using document::DecodeFailure;
using document::Parser;

// `ids`: any sequence of str but a str itself, converted whole before anything is read.
template <class T>
bool raise_if_failed(const Result<T>& result) {
  if (result) return false;
  py::raise_runtime_error(result.error());
  return true;
}

PyObject* decoded_or_raise(PyObject* decoded, const DecodeFailure& failure,
                           const document::DecodeMessages& messages) {
  if (!decoded) document::raise_decode_failure(failure, messages);
  return decoded;
}

}  // namespace

PyObject* db_engine_get(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    static const py::Signature sig{"get", "DBEngine", {"id"}, 1};
    PyObject* argv[1];
    if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
    py::SharedBorrow borrow(as_engine(self)->borrow);
    if (!borrow.ok()) return nullptr;
    std::string_view id;
    if (!py::extract_str(argv[0], "id", id)) return nullptr;

    store::Store& db = as_engine(self)->engine.db();
    auto found = py::without_gil([&] { return store::read_document(db, id); });
    if (raise_if_failed(found)) return nullptr;
    if (!found->has_value()) Py_RETURN_NONE;
    DecodeFailure failure;
    return decoded_or_raise(document::decode_document(**found, Parser::Strict, failure), failure,
                            document::kGetMessages);
  });
}

PyObject* db_engine_get_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    static const py::Signature sig{"get_many", "DBEngine", {"ids"}, 1};
    PyObject* argv[1];
    if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
    py::SharedBorrow borrow(as_engine(self)->borrow);
    if (!borrow.ok()) return nullptr;
    std::vector<std::string> ids;
    if (!py::extract_ids(argv[0], "ids", ids)) return nullptr;

    store::Store& db = as_engine(self)->engine.db();
    auto found = py::without_gil([&] { return store::read_documents(db, std::move(ids)); });
    if (raise_if_failed(found)) return nullptr;
    DecodeFailure failure;
    return decoded_or_raise(
        document::decode_optional_entries(found.value(), Parser::Strict, failure), failure,
        document::kGetMessages);
  });
}

PyObject* db_engine_scan_prefix(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    static const py::Signature sig{"scan_prefix", "DBEngine", {"prefix"}, 1};
    PyObject* argv[1];
    if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
    py::SharedBorrow borrow(as_engine(self)->borrow);
    if (!borrow.ok()) return nullptr;
    std::string_view prefix;
    if (!py::extract_str(argv[0], "prefix", prefix)) return nullptr;

    store::Store& db = as_engine(self)->engine.db();
    auto found = py::without_gil([&] { return store::read_prefix(db, prefix); });
    if (raise_if_failed(found)) return nullptr;
    DecodeFailure failure;
    return decoded_or_raise(document::decode_entries(found.value(), Parser::Strict, failure),
                            failure, document::kListMessages);
  });
}

PyObject* db_engine_filter_by_metadata(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    static const py::Signature sig{
        "filter_by_metadata", "DBEngine", {"index_key", "index_value"}, 2};
    PyObject* argv[2];
    if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
    py::SharedBorrow borrow(as_engine(self)->borrow);
    if (!borrow.ok()) return nullptr;
    std::string_view index_key, index_value;
    if (!py::extract_str(argv[0], "index_key", index_key)) return nullptr;
    if (!py::extract_str(argv[1], "index_value", index_value)) return nullptr;
    std::string key;
    key.reserve(index_key.size() + 1 + index_value.size());
    key.append(index_key).append(".").append(index_value);

    store::Store& db = as_engine(self)->engine.db();
    auto found = py::without_gil([&] { return store::read_metadata_matches(db, key); });
    if (raise_if_failed(found)) return nullptr;
    DecodeFailure failure;
    return decoded_or_raise(document::decode_entries(found.value(), Parser::Strict, failure),
                            failure, document::kListMessages);
  });
}

}  // namespace quorvane::db_engine
