// The read methods get, get_many and scan_prefix as one body per method for both classes
// (`Class` is a traits struct, see class_traits.h), and the read frame that every read,
// filter_by_metadata included, is built from.
//
// The frame: check that the instance belongs to this process (binding/process_owner.h), match
// the arguments, take the shared borrow, convert the arguments in parameter order; run the
// storage step (store/reads.h) with the GIL released, holding the store by the class's share,
// which is released inside the step; with the GIL held again raise the step's error text, or
// decode the copied bytes with a parser and a message pair. The borrow lasts for the whole
// call, so close_engine cannot run while the GIL is released.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/args.h"
#include "binding/borrow.h"
#include "binding/errors.h"
#include "binding/gil.h"
#include "binding/process_owner.h"
#include "binding/python.h"
#include "binding/records.h"
#include "document/decoder.h"
#include "store/reads.h"
#include "util/result.h"

namespace quorvane::methods {

// Runs `step(store::Store&)` with the GIL released on the store held by `share`; the share is
// released before the GIL is taken back.
template <class Share, class Step>
auto read_without_gil(Share share, Step&& step) {
  return py::without_gil([&]() {
    Share held = std::move(share);
    return step(*held);
  });
}

// The decode half of a list read: the step's error text raised as RuntimeError, or the
// entries decoded by `decode` (document::decode_entries or decode_optional_entries) with
// `parser`, the first failure raised under `messages`. A new list, or null.
template <class Entries, class Decode>
PyObject* decode_or_raise(Result<Entries>& found, Decode decode, document::Parser parser,
                          const document::DecodeMessages& messages, document::KeyCache* keys) {
  if (!found) {
    py::raise_runtime_error(found.error());
    return nullptr;
  }
  document::DecodeFailure failure;
  PyObject* decoded = decode(found.value(), parser, failure, keys);
  if (!decoded) document::raise_decode_failure(failure, messages);
  return decoded;
}

// The metadata index key of a filter: `index_key`, ".", `index_value`, nothing escaped.
inline std::string metadata_key(std::string_view index_key, std::string_view index_value) {
  std::string key;
  key.reserve(index_key.size() + 1 + index_value.size());
  key.append(index_key).append(".").append(index_value);
  return key;
}

template <class Class>
PyObject* get(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    if (!py::owned_here(Class::owner(self))) return nullptr;
    static const py::Signature sig{"get", Class::kName, {"id"}, 1};
    PyObject* argv[1];
    if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
    py::SharedBorrow borrow(Class::borrow(self));
    if (!borrow.ok()) return nullptr;
    std::string_view id;
    if (!py::extract_str(argv[0], "id", id)) return nullptr;

    auto found = read_without_gil(Class::store_share(Class::engine(self)),
                                  [&](store::Store& db) { return store::read_document(db, id); });
    if (!found) {
      py::raise_runtime_error(found.error());
      return nullptr;
    }
    if (!found->has_value()) Py_RETURN_NONE;
    document::DecodeFailure failure;
    PyObject* decoded =
        document::decode_document(**found, Class::kIdReadParser, failure, Class::key_cache(self));
    if (!decoded) document::raise_decode_failure(failure, document::kGetMessages);
    return decoded;
  });
}

template <class Class>
PyObject* get_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    if (!py::owned_here(Class::owner(self))) return nullptr;
    static const py::Signature sig{"get_many", Class::kName, {"ids"}, 1};
    PyObject* argv[1];
    if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
    py::SharedBorrow borrow(Class::borrow(self));
    if (!borrow.ok()) return nullptr;
    std::vector<std::string> ids;
    if (!py::extract_ids(argv[0], "ids", ids)) return nullptr;

    auto found = read_without_gil(Class::store_share(Class::engine(self)), [&](store::Store& db) {
      return store::read_documents(db, std::move(ids));
    });
    return decode_or_raise(found, document::decode_optional_entries, Class::kIdReadParser,
                           document::kGetMessages, Class::key_cache(self));
  });
}

template <class Class>
PyObject* scan_prefix(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    if (!py::owned_here(Class::owner(self))) return nullptr;
    static const py::Signature sig{"scan_prefix", Class::kName, {"prefix"}, 1};
    PyObject* argv[1];
    if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
    py::SharedBorrow borrow(Class::borrow(self));
    if (!borrow.ok()) return nullptr;
    std::string_view prefix;
    if (!py::extract_str(argv[0], "prefix", prefix)) return nullptr;

    auto found = read_without_gil(Class::store_share(Class::engine(self)),
                                  [&](store::Store& db) { return store::read_prefix(db, prefix); });
    return decode_or_raise(found, document::decode_entries, Class::kIdReadParser,
                           document::kListMessages, Class::key_cache(self));
  });
}

}  // namespace quorvane::methods
