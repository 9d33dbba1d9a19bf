// Matching a call's arguments to a method's parameters, and converting them.
//
// match_arguments() takes the fast-call form (args, nargs, kwnames); match_arguments_tuple()
// the (args tuple, kwargs dict) form of tp_new. Both fill `out` with borrowed references, one
// per parameter, null for an omitted optional one, or set the binding layer's TypeError for a
// missing, surplus or repeated argument or a keyword that names no parameter.
//
// The converters set the conversion's own exception and add the note
// "while processing '<parameter>'" to it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "binding/park_thread.h"
#include "binding/py_ref.h"
#include "binding/python.h"

namespace quorvane::binding {

// What argument matching needs of a method: its names for the messages and its parameters.
// Made at compile time from a method's description (method.h).
struct Signature {
  const char* function_name;  // e.g. "insert"
  const char* class_name;     // e.g. "DBEngine"
  std::span<const char* const> parameters;
  size_t required;  // the first `required` parameters must be given
};

bool match_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, PyObject** out);
bool match_arguments_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out);

// Adds the note naming `parameter` to the pending exception and returns false.
bool argument_failed(const char* parameter);

// A str (or subclass) as UTF-8 text, borrowed from the object: valid while `obj` lives.
bool extract_str(PyObject* obj, const char* parameter, std::string_view& out);
// The same without the note, for items inside a sequence argument (the caller adds it).
bool extract_str_item(PyObject* obj, std::string_view& out);
// A dict or dict subclass.
bool extract_dict(PyObject* obj, const char* parameter);
// None gives an absent text.
bool extract_optional_str(PyObject* obj, const char* parameter,
                          std::optional<std::string_view>& out);
// A bool exactly (or a numpy bool).
bool extract_bool(PyObject* obj, const char* parameter, bool& out);
// None gives an absent count; otherwise an int (a bool counts) or an object with __index__,
// as an unsigned 64-bit count.
bool extract_optional_u64(PyObject* obj, const char* parameter, std::optional<uint64_t>& out);

// The sequence parameters (`ids`, `records`): a str is refused with
// "Can't extract `str` to `Vec`"; other objects must pass PySequence_Check and are iterated.
// Calls `item(PyObject* borrowed)` for each item; `item` returns false with an exception set
// to stop. Adds the note naming `parameter` on any failure.
template <class F>
bool for_each_sequence_item(PyObject* obj, const char* parameter, F&& item);
// The same, first asking len() once and calling `reserve(size_t)` with it (capped, so that a
// __len__ that lies cannot make the caller reserve without bound); a failing len() is ignored.
template <class Reserve, class F>
bool for_each_sequence_item(PyObject* obj, const char* parameter, Reserve&& reserve, F&& item);

// Records of the bulk inserts: a tuple (or subclass) of exactly two items.
bool unpack_pair(PyObject* obj, PyObject*& first, PyObject*& second);

// Implementation -------------------------------------------------------------------------

bool check_sequence_argument(PyObject* obj);

inline constexpr size_t kMaxReserveHint = size_t{1} << 20;

template <class F>
bool for_each_sequence_item(PyObject* obj, const char* parameter, F&& item) {
  return for_each_sequence_item(
      obj, parameter, [](size_t) {}, std::forward<F>(item));
}

template <class Reserve, class F>
bool for_each_sequence_item(PyObject* obj, const char* parameter, Reserve&& reserve, F&& item) {
  if (!check_sequence_argument(obj)) return argument_failed(parameter);
  // A sequence of the program's own runs Python code for each of these.
  const Py_ssize_t length = calling_python([&] { return PyObject_Size(obj); });
  if (length < 0) {
    PyErr_Clear();
  } else {
    reserve(std::min(static_cast<size_t>(length), kMaxReserveHint));
  }
  PyRef iter = PyRef::steal(calling_python([&] { return PyObject_GetIter(obj); }));
  if (!iter) return argument_failed(parameter);
  bool ok = true;
  while (PyRef next = PyRef::steal(calling_python([&] { return PyIter_Next(iter.get()); }))) {
    ok = item(next.get());
    if (!ok) break;
  }
  iter = PyRef();
  if (ok && PyErr_Occurred()) ok = false;
  if (!ok) return argument_failed(parameter);
  return true;
}

}  // namespace quorvane::binding
