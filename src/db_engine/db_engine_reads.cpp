// DBEngine's read methods. get, get_many and scan_prefix are the bodies shared with
// DBEngineWebServer (methods/read_steps.h), with the strict parser; filter_by_metadata takes
// every document filed under the key, without paging.
#include <string>
#include <string_view>

#include "binding/args.h"
#include "binding/borrow.h"
#include "binding/errors.h"
#include "binding/process_owner.h"
#include "db_engine/db_engine_methods.h"
#include "db_engine/db_engine_object.h"
#include "document/decoder.h"
#include "methods/read_steps.h"
#include "store/reads.h"

namespace quorvane::db_engine {

PyObject* db_engine_get(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
  return methods::get<DBEngineMethods>(self, args, nargs, kwnames);
}

PyObject* db_engine_get_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return methods::get_many<DBEngineMethods>(self, args, nargs, kwnames);
}

PyObject* db_engine_scan_prefix(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return methods::scan_prefix<DBEngineMethods>(self, args, nargs, kwnames);
}

PyObject* db_engine_filter_by_metadata(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    if (!py::owned_here(DBEngineMethods::owner(self))) return nullptr;
    static const py::Signature sig{
        "filter_by_metadata", "DBEngine", {"index_key", "index_value"}, 2};
    PyObject* argv[2];
    if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
    py::SharedBorrow borrow(as_engine(self)->borrow);
    if (!borrow.ok()) return nullptr;
    std::string_view index_key, index_value;
    if (!py::extract_str(argv[0], "index_key", index_key)) return nullptr;
    if (!py::extract_str(argv[1], "index_value", index_value)) return nullptr;
    const std::string key = methods::metadata_key(index_key, index_value);

    auto found = methods::read_without_gil(
        DBEngineMethods::store_share(as_engine(self)->engine),
        [&](store::Store& db) { return store::read_metadata_matches(db, key); });
    return methods::decode_or_raise(found, document::decode_entries, document::Parser::Strict,
                                    document::kListMessages, DBEngineMethods::key_cache(self));
  });
}

}  // namespace quorvane::db_engine
