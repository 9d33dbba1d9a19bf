// PythonBuilder: the Builder through which JsonReader makes Python objects directly: None,
// bool, int, float, str, list and dict. Needs the GIL for its whole life.
//
// A builder made with `reuse_keys` (the list decoders: the same fields come back in every
// document) makes one str object per recent key and hands it out again: a small table owned
// by the builder and released with it, so nothing outlives the call. Only keys read straight
// from the input (no escapes) are kept, by pointer into it: the input must outlive the
// builder. A single document rarely repeats a key, so it is built without the table.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "binding/py_ref.h"
#include "binding/python.h"

namespace quorvane::document {

class PythonBuilder {
 public:
  using Value = py::PyRef;

  explicit PythonBuilder(bool reuse_keys)
      : key_slots_(reuse_keys ? std::make_unique<KeySlot[]>(kSlots) : nullptr) {}
  PythonBuilder(const PythonBuilder&) = delete;
  PythonBuilder& operator=(const PythonBuilder&) = delete;
  ~PythonBuilder() {
    if (!key_slots_) return;
    for (size_t i = 0; i < kSlots; ++i) Py_XDECREF(key_slots_[i].object);
  }

  bool null(Value& out) {
    out = py::PyRef::borrow(Py_None);
    return true;
  }
  bool boolean(bool value, Value& out) {
    out = py::PyRef::borrow(value ? Py_True : Py_False);
    return true;
  }
  bool unsigned_integer(uint64_t value, Value& out) {
    out = py::PyRef::steal(PyLong_FromUnsignedLongLong(value));
    return static_cast<bool>(out);
  }
  bool signed_integer(int64_t value, Value& out) {
    out = py::PyRef::steal(PyLong_FromLongLong(value));
    return static_cast<bool>(out);
  }
  bool real(double value, Value& out) {
    out = py::PyRef::steal(PyFloat_FromDouble(value));
    return static_cast<bool>(out);
  }
  bool string(std::string_view text, Value& out) {
    out = py::PyRef::steal(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
    return static_cast<bool>(out);
  }

  bool key(std::string_view text, bool stable, Value& out) {
    if (!key_slots_ || !stable || text.size() > kLongestKeptKey) return string(text, out);
    KeySlot& slot = key_slots_[slot_of(text)];
    if (slot.object && slot.size == text.size() &&
        std::memcmp(slot.data, text.data(), text.size()) == 0) {
      out = py::PyRef::borrow(slot.object);
      return true;
    }
    if (!string(text, out)) return false;
    Py_XDECREF(slot.object);
    slot.data = text.data();
    slot.size = text.size();
    slot.object = out.get();
    Py_INCREF(slot.object);
    return true;
  }

  bool array(Value* items, size_t count, Value& out) {
    out = py::PyRef::steal(PyList_New(static_cast<Py_ssize_t>(count)));
    if (!out) return false;
    for (size_t i = 0; i < count; ++i) {
      PyList_SetItem(out.get(), static_cast<Py_ssize_t>(i), items[i].release());
    }
    return true;
  }
  bool object(Value& out) {
    out = py::PyRef::steal(PyDict_New());
    return static_cast<bool>(out);
  }
  bool member(Value& object, Value& key, Value& value) {
    return PyDict_SetItem(object.get(), key.get(), value.get()) == 0;
  }

 private:
  static constexpr size_t kLongestKeptKey = 48;
  static constexpr unsigned kSlotBits = 6;
  static constexpr size_t kSlots = size_t{1} << kSlotBits;

  struct KeySlot {
    const char* data = nullptr;
    size_t size = 0;
    PyObject* object = nullptr;  // owned
  };

  static unsigned slot_of(std::string_view text) {
    uint32_t h = static_cast<uint32_t>(text.size());
    if (!text.empty()) {
      h = h * 31 + static_cast<unsigned char>(text.front());
      h = h * 31 + static_cast<unsigned char>(text[text.size() / 2]);
      h = h * 31 + static_cast<unsigned char>(text.back());
    }
    return (h * 2654435761u) >> (32 - kSlotBits);
  }

  std::unique_ptr<KeySlot[]> key_slots_;
};

}  // namespace quorvane::document
