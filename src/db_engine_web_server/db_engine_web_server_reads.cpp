// DBEngineWebServer's read methods. get, get_many and scan_prefix are the bodies shared with
// DBEngine (methods/read_steps.h), parsing with the SIMD parser; filter_by_metadata pages over
// the index entries filed under the key (limit and offset count entries, not documents) and
// parses with the strict parser, as DBEngine's filter does. Every storage step holds a share
// of the store handle, taken with the GIL held and released inside the step.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "binding/args.h"
#include "binding/borrow.h"
#include "binding/errors.h"
#include "binding/process_owner.h"
#include "db_engine_web_server/db_engine_web_server_methods.h"
#include "db_engine_web_server/db_engine_web_server_object.h"
#include "document/decoder.h"
#include "methods/read_steps.h"
#include "store/reads.h"

namespace quorvane::web_server {

PyObject* server_get(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return methods::get<WebServerMethods>(self, args, nargs, kwnames);
}

PyObject* server_get_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  return methods::get_many<WebServerMethods>(self, args, nargs, kwnames);
}

PyObject* server_scan_prefix(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return methods::scan_prefix<WebServerMethods>(self, args, nargs, kwnames);
}

PyObject* server_filter_by_metadata(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    if (!py::owned_here(WebServerMethods::owner(self))) return nullptr;
    static const py::Signature sig{"filter_by_metadata",
                                   WebServerMethods::kName,
                                   {"index_key", "index_value", "limit", "offset"},
                                   4};
    PyObject* argv[4];
    if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
    py::SharedBorrow borrow(as_server(self)->borrow);
    if (!borrow.ok()) return nullptr;
    std::string_view index_key, index_value;
    std::optional<uint64_t> limit, offset;
    if (!py::extract_str(argv[0], "index_key", index_key)) return nullptr;
    if (!py::extract_str(argv[1], "index_value", index_value)) return nullptr;
    if (!py::extract_optional_u64(argv[2], "limit", limit)) return nullptr;
    if (!py::extract_optional_u64(argv[3], "offset", offset)) return nullptr;
    const std::string key = methods::metadata_key(index_key, index_value);

    auto found = methods::read_without_gil(
        WebServerMethods::store_share(as_server(self)->server),
        [&](store::Store& db) { return store::read_metadata_page(db, key, limit, offset); });
    return methods::decode_or_raise(found, document::decode_entries, document::Parser::Strict,
                                    document::kListMessages, WebServerMethods::key_cache(self));
  });
}

}  // namespace quorvane::web_server
