// PythonBuilder: the Builder through which JsonReader makes Python objects directly: None,
// bool, int, float, str, list and dict. Needs the GIL for its whole life.
//
// A builder given a KeyCache takes dict keys from it (the same fields come back in every
// document); without one, every key is a new str.
#pragma once

#include <cstdint>
#include <string_view>

#include "binding/py_ref.h"
#include "binding/python.h"
#include "document/python/key_cache.h"

namespace quorvane::document::python {

class PythonBuilder {
 public:
  using Value = binding::PyRef;

  // `keys` (may be null) must outlive the builder.
  explicit PythonBuilder(KeyCache* keys) : keys_(keys) {}
  PythonBuilder(const PythonBuilder&) = delete;
  PythonBuilder& operator=(const PythonBuilder&) = delete;

  bool null(Value& out) {
    out = binding::PyRef::borrow(Py_None);
    return true;
  }
  bool boolean(bool value, Value& out) {
    out = binding::PyRef::borrow(value ? Py_True : Py_False);
    return true;
  }
  bool unsigned_integer(uint64_t value, Value& out) {
    out = binding::PyRef::steal(PyLong_FromUnsignedLongLong(value));
    return static_cast<bool>(out);
  }
  bool signed_integer(int64_t value, Value& out) {
    out = binding::PyRef::steal(PyLong_FromLongLong(value));
    return static_cast<bool>(out);
  }
  bool real(double value, Value& out) {
    out = binding::PyRef::steal(PyFloat_FromDouble(value));
    return static_cast<bool>(out);
  }
  bool string(std::string_view text, Value& out) {
    out = binding::PyRef::steal(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
    return static_cast<bool>(out);
  }

  bool key(std::string_view text, bool /*stable*/, Value& out) {
    return keys_ ? keys_->key(text, out) : string(text, out);
  }

  bool array(Value* items, size_t count, Value& out) {
    out = binding::PyRef::steal(PyList_New(static_cast<Py_ssize_t>(count)));
    if (!out) return false;
    for (size_t i = 0; i < count; ++i) {
      PyList_SetItem(out.get(), static_cast<Py_ssize_t>(i), items[i].release());
    }
    return true;
  }
  bool object(Value& out) {
    out = binding::PyRef::steal(PyDict_New());
    return static_cast<bool>(out);
  }
  bool member(Value& object, Value& key, Value& value) {
    return PyDict_SetItem(object.get(), key.get(), value.get()) == 0;
  }

 private:
  KeyCache* keys_;
};

}  // namespace quorvane::document::python
