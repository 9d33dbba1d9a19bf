// One reader per call, whichever the number of documents: its buffers are reused from one
// document to the next and released when the call ends. Dict keys come from the caller's key
// cache when one is given; a list decoder without one keeps its own for the call.
#include "document/python/decoder.h"

#include <memory>

#include "binding/errors.h"
#include "binding/py_ref.h"
#include "document/json_reader.h"
#include "document/python/python_builder.h"
#include "util/format.h"

namespace quorvane::document::python {

namespace {

constexpr const char* kNotDictMessage = "Database entry is not a valid JSON/Dictionary";

template <Dialect D>
class DocumentDecoder {
 public:
  // `keys` (may be null) must outlive the decoder.
  explicit DocumentDecoder(KeyCache* keys) : builder_(keys), reader_(builder_) {}

  // A new dict, or null with `failure` filled and no exception pending.
  binding::PyRef document(DocBytes& bytes, DecodeFailure& failure) {
    binding::PyRef out;
    using Outcome = typename JsonReader<D, PythonBuilder>::Outcome;
    switch (reader_.read(bytes.data(), bytes.size(), out)) {
      case Outcome::Ok:
        break;
      case Outcome::Fault:
        failure = {DecodeFailure::Stage::Parse,
                   fault_text(D, reader_.fault(), bytes.view(), reader_.fault_offset())};
        return {};
      case Outcome::BuilderFailed:
        return conversion_failed(failure);
    }
    if (!PyDict_Check(out.get())) {
      failure = {DecodeFailure::Stage::NotDict, {}};
      return {};
    }
    return out;
  }

  // The id as a str, or null with `failure` filled.
  binding::PyRef id(const std::string& id, DecodeFailure& failure) {
    binding::PyRef out = binding::PyRef::steal(
        PyUnicode_DecodeUTF8(id.data(), static_cast<Py_ssize_t>(id.size()), nullptr));
    if (!out) return conversion_failed(failure);
    return out;
  }

  static binding::PyRef conversion_failed(DecodeFailure& failure) {
    failure = {DecodeFailure::Stage::Conversion, binding::take_pending_error_text()};
    return {};
  }

 private:
  PythonBuilder builder_;  // declared first: the reader's stacks are released before it
  JsonReader<D, PythonBuilder> reader_;
};

// (id, value) as a new tuple; takes both.
binding::PyRef pair(binding::PyRef id, binding::PyRef value, DecodeFailure& failure) {
  binding::PyRef tuple = binding::PyRef::steal(PyTuple_New(2));
  if (!tuple) {
    failure = {DecodeFailure::Stage::Conversion, binding::take_pending_error_text()};
    return {};
  }
  PyTuple_SetItem(tuple.get(), 0, id.release());
  PyTuple_SetItem(tuple.get(), 1, value.release());
  return tuple;
}

// `decode(entry)` gives the value for one entry or null with `failure` filled.
template <class Entries, class DecodeEntry>
PyObject* build_list(Entries& entries, DecodeFailure& failure, DecodeEntry&& decode) {
  binding::PyRef list = binding::PyRef::steal(PyList_New(static_cast<Py_ssize_t>(entries.size())));
  if (!list) {
    failure = {DecodeFailure::Stage::Conversion, binding::take_pending_error_text()};
    return nullptr;
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    binding::PyRef item = decode(entries[i]);
    if (!item) return nullptr;
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item.release());
  }
  return list.release();
}

// The caller's key cache, or one of its own for the call.
class ListKeys {
 public:
  explicit ListKeys(KeyCache* given) : given_(given) {
    if (!given_) own_ = std::make_unique<KeyCache>();
  }
  KeyCache* get() { return given_ ? given_ : own_.get(); }

 private:
  KeyCache* given_;
  std::unique_ptr<KeyCache> own_;
};

template <Dialect D>
PyObject* decode_entries_as(std::vector<Entry>& entries, DecodeFailure& failure, KeyCache* keys) {
  ListKeys list_keys(keys);
  DocumentDecoder<D> decoder(list_keys.get());
  return build_list(entries, failure, [&](Entry& entry) -> binding::PyRef {
    binding::PyRef id = decoder.id(entry.first, failure);
    if (!id) return {};
    binding::PyRef dict = decoder.document(entry.second, failure);
    if (!dict) return {};
    return pair(std::move(id), std::move(dict), failure);
  });
}

template <Dialect D>
PyObject* decode_optional_entries_as(std::vector<OptionalEntry>& entries, DecodeFailure& failure,
                                     KeyCache* keys) {
  ListKeys list_keys(keys);
  DocumentDecoder<D> decoder(list_keys.get());
  return build_list(entries, failure, [&](OptionalEntry& entry) -> binding::PyRef {
    binding::PyRef id = decoder.id(entry.first, failure);
    if (!id) return {};
    binding::PyRef value =
        entry.second ? decoder.document(*entry.second, failure) : binding::PyRef::borrow(Py_None);
    if (!value) return {};
    return pair(std::move(id), std::move(value), failure);
  });
}

}  // namespace

PyObject* decode_document(DocBytes& bytes, Parser parser, DecodeFailure& failure, KeyCache* keys) {
  if (parser == Parser::Strict) {
    return DocumentDecoder<Dialect::Strict>(keys).document(bytes, failure).release();
  }
  return DocumentDecoder<Dialect::Simd>(keys).document(bytes, failure).release();
}

PyObject* decode_entries(std::vector<Entry>& entries, Parser parser, DecodeFailure& failure,
                         KeyCache* keys) {
  return parser == Parser::Strict ? decode_entries_as<Dialect::Strict>(entries, failure, keys)
                                  : decode_entries_as<Dialect::Simd>(entries, failure, keys);
}

PyObject* decode_optional_entries(std::vector<OptionalEntry>& entries, Parser parser,
                                  DecodeFailure& failure, KeyCache* keys) {
  return parser == Parser::Strict
             ? decode_optional_entries_as<Dialect::Strict>(entries, failure, keys)
             : decode_optional_entries_as<Dialect::Simd>(entries, failure, keys);
}

void raise_decode_failure(const DecodeFailure& failure, const DecodeMessages& messages) {
  switch (failure.stage) {
    case DecodeFailure::Stage::Parse:
      binding::raise_runtime_error(format_message(messages.parse, {failure.text}));
      return;
    case DecodeFailure::Stage::Conversion:
      binding::raise_runtime_error(format_message(messages.conversion, {failure.text}));
      return;
    case DecodeFailure::Stage::NotDict:
      binding::raise_runtime_error(kNotDictMessage);
      return;
  }
}

}  // namespace quorvane::document::python
