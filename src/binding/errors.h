// Raising exceptions, and the guard that every entry point from the interpreter runs in.
//
// Entry points (methods, tp_new, getters, the module's exec step) wrap their body in
// guarded(): a C++ exception escaping the body is a fault and becomes
// pyo3_runtime.PanicException (derived from BaseException) instead of ending the process.
// The interpreter's ending of a thread while it finalizes (a forced unwind, see
// park_thread.h) is no fault: it parks the thread.
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "binding/park_thread.h"
#include "binding/python.h"

namespace quorvane::binding {

// The process-wide pyo3_runtime.PanicException type (created on first use), or null with an
// exception set.
PyObject* panic_exception_type();

// Sets PanicException carrying `message`.
void raise_panic(std::string_view message);

void raise_runtime_error(std::string_view message);
// Sets RuntimeError with the pending exception (if any) as its __cause__.
void raise_runtime_error_with_cause(std::string_view message);
void raise_type_error(std::string_view message);
void raise_value_error(std::string_view message);

// TypeError "'<type>' object is not an instance of '<expected>'", or
// "'None' is not an instance of '<expected>'" when `obj` is None.
void raise_type_check(PyObject* obj, const char* expected);
// The text of that error, without raising it.
std::string type_check_text(PyObject* obj, const char* expected);

// The qualified name (__qualname__) of a type, or "unknown" when it cannot be read.
std::string type_qualname(PyObject* type);

// Adds `note` to the pending exception (exception notes exist from Python 3.11 on; on older
// interpreters the exception is left as it is).
void add_note_to_pending(const std::string& note);

// Takes the pending exception and renders it as "<qualified type name>: <str(exc)>", or
// "<qualified type name>: <exception str() failed>" when str() itself fails. Clears it.
std::string take_pending_error_text();

namespace detail {
void raise_fault(const std::exception* e);
}

// Runs an entry point's body; a C++ exception escaping it becomes PanicException.
// `R` is PyObject* (null on failure) or int (-1 on failure).
template <class R, class F>
R guarded(F&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    detail::raise_fault(&e);
  } catch (...) {
    // Not a C++ exception at all: the forced unwind of a thread the interpreter ends.
    if (!std::current_exception()) park_thread_forever();
    detail::raise_fault(nullptr);
  }
  if constexpr (std::is_pointer_v<R>) {
    return nullptr;
  } else {
    return -1;
  }
}

}  // namespace quorvane::binding
