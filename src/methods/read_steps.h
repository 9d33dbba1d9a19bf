// The read methods get, get_many and scan_prefix, described once for both classes (`Class`
// is a traits struct, see class_traits.h), and the read frame that every read,
// filter_by_metadata included, is built from.
//
// The frame: after the entry steps (binding/method.h: the process check, argument matching,
// the shared borrow) convert the arguments in parameter order; run the storage step
// (store/reads.h) with the GIL released, holding a share of the store handle, which is
// released inside the step; with the GIL held again raise the step's error text, or decode
// the copied bytes with a parser and a message pair. The borrow lasts for the whole call, so
// close_engine cannot run while the GIL is released.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/args.h"
#include "binding/errors.h"
#include "binding/gil.h"
#include "binding/method.h"
#include "binding/python.h"
#include "binding/records.h"
#include "document/python/decoder.h"
#include "methods/class_traits.h"
#include "store/reads.h"
#include "util/result.h"

namespace quorvane::methods {

// Runs `step(store::Store&)` with the GIL released on the store held by `share`; the share is
// released before the GIL is taken back.
template <class Step>
auto read_without_gil(std::shared_ptr<store::Store> share, Step&& step) {
  return binding::without_gil([&]() {
    const std::shared_ptr<store::Store> held = std::move(share);
    return step(*held);
  });
}

// The decode half of a list read: the step's error text raised as RuntimeError, or the
// entries decoded by `decode` (document::decode_entries or decode_optional_entries) with
// `parser`, the first failure raised under `messages`. A new list, or null.
template <class Entries, class Decode>
PyObject* decode_or_raise(Result<Entries>& found, Decode decode, document::python::Parser parser,
                          const document::python::DecodeMessages& messages,
                          document::python::KeyCache* keys) {
  if (!found) {
    binding::raise_runtime_error(found.error());
    return nullptr;
  }
  document::python::DecodeFailure failure;
  PyObject* decoded = decode(found.value(), parser, failure, keys);
  if (!decoded) document::python::raise_decode_failure(failure, messages);
  return decoded;
}

// The metadata index key of a filter: `index_key`, ".", `index_value`, nothing escaped.
inline std::string metadata_key(std::string_view index_key, std::string_view index_value) {
  std::string key;
  key.reserve(index_key.size() + 1 + index_value.size());
  key.append(index_key).append(".").append(index_value);
  return key;
}

template <ClassTraits Class>
struct Get {
  static constexpr const char* kName = "get";
  static constexpr std::array kParameters{"id"};
  static constexpr binding::Borrow kBorrow = binding::Borrow::Shared;

  static PyObject* call(binding::ObjectOf<Class>& self, const binding::Arguments<1>& args) {
    std::string_view id;
    if (!binding::extract_str(args[0], "id", id)) return nullptr;

    auto found = read_without_gil(self.engine.db_handle(),
                                  [&](store::Store& db) { return store::read_document(db, id); });
    if (!found) {
      binding::raise_runtime_error(found.error());
      return nullptr;
    }
    if (!found->has_value()) Py_RETURN_NONE;
    document::python::DecodeFailure failure;
    PyObject* decoded =
        document::python::decode_document(**found, Class::kIdReadParser, failure, &self.keys);
    if (!decoded) document::python::raise_decode_failure(failure, document::python::kGetMessages);
    return decoded;
  }
};

template <ClassTraits Class>
struct GetMany {
  static constexpr const char* kName = "get_many";
  static constexpr std::array kParameters{"ids"};
  static constexpr binding::Borrow kBorrow = binding::Borrow::Shared;

  static PyObject* call(binding::ObjectOf<Class>& self, const binding::Arguments<1>& args) {
    std::vector<std::string> ids;
    if (!binding::extract_ids(args[0], "ids", ids)) return nullptr;

    auto found = read_without_gil(self.engine.db_handle(), [&](store::Store& db) {
      return store::read_documents(db, std::move(ids));
    });
    return decode_or_raise(found, document::python::decode_optional_entries, Class::kIdReadParser,
                           document::python::kGetMessages, &self.keys);
  }
};

template <ClassTraits Class>
struct ScanPrefix {
  static constexpr const char* kName = "scan_prefix";
  static constexpr std::array kParameters{"prefix"};
  static constexpr binding::Borrow kBorrow = binding::Borrow::Shared;

  static PyObject* call(binding::ObjectOf<Class>& self, const binding::Arguments<1>& args) {
    std::string_view prefix;
    if (!binding::extract_str(args[0], "prefix", prefix)) return nullptr;

    auto found = read_without_gil(self.engine.db_handle(),
                                  [&](store::Store& db) { return store::read_prefix(db, prefix); });
    return decode_or_raise(found, document::python::decode_entries, Class::kIdReadParser,
                           document::python::kListMessages, &self.keys);
  }
};

}  // namespace quorvane::methods
