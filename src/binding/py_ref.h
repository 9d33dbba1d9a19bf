// PyRef: an owned reference to a Python object, released when the PyRef goes.
//
// A null PyRef returned by a function of the binding layer means that a Python exception is
// set. Every PyRef must be released with the GIL held. A release may run Python code (a
// __del__), in which the interpreter may end the thread: it is parked there (park_thread.h).
#pragma once

#include <utility>

#include "binding/park_thread.h"
#include "binding/python.h"

namespace quorvane::binding {

class PyRef {
 public:
  PyRef() = default;
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      release_reference(std::exchange(p_, std::exchange(other.p_, nullptr)));
    }
    return *this;
  }
  ~PyRef() { release_reference(p_); }

  // Takes over a new reference (which may be null).
  static PyRef steal(PyObject* p) { return PyRef(p); }
  // Adds a reference to a borrowed one.
  static PyRef borrow(PyObject* p) {
    Py_XINCREF(p);
    return PyRef(p);
  }

  PyRef copy() const { return borrow(p_); }
  PyObject* get() const { return p_; }
  // Gives up ownership: the caller now holds the reference.
  PyObject* release() { return std::exchange(p_, nullptr); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  explicit PyRef(PyObject* p) : p_(p) {}
  static void release_reference(PyObject* p) noexcept {
    if (!p) return;
    // A reference that is not the last frees nothing, and so runs no Python code.
    if (Py_REFCNT(p) > 1) {
      Py_DECREF(p);
    } else {
      release_last_reference(p);
    }
  }
  // The last reference may run Python code (a __del__), in which the interpreter may end the
  // thread. Out of line, so that the common release stays a decrement.
  [[gnu::noinline]] static void release_last_reference(PyObject* p) noexcept {
    try {
      Py_DECREF(p);
    } catch (...) {  // nothing but the forced unwind of a thread the interpreter ends
      park_thread_forever();
    }
  }
  PyObject* p_ = nullptr;
};

}  // namespace quorvane::binding
