#include "binding/errors.h"

#include <cstring>
#include <string>

#include "binding/borrow.h"
#include "binding/py_ref.h"

namespace quorvane::binding {

PyObject* panic_exception_type() {
  // Created once and kept for the life of the process, like the class objects.
  static PyObject* type = nullptr;
  if (!type) {
    type = PyErr_NewExceptionWithDoc(
        "pyo3_runtime.PanicException",
        "The exception raised when native code of this module meets a fault.", PyExc_BaseException,
        nullptr);
  }
  return type;
}

void raise_panic(std::string_view message) {
  PyObject* type = panic_exception_type();
  if (!type) return;
  PyRef text = PyRef::steal(
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (!text) return;
  PyErr_SetObject(type, text.get());
}

namespace detail {

void raise_fault(const std::exception* e) {
  PyErr_Clear();
  raise_panic(e ? e->what() : "native code met a fault");
}

}  // namespace detail

namespace {

void raise_with_text(PyObject* type, std::string_view message) {
  PyRef text = PyRef::steal(
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (!text) return;
  PyErr_SetObject(type, text.get());
}

}  // namespace

void raise_runtime_error(std::string_view message) { raise_with_text(PyExc_RuntimeError, message); }
void raise_runtime_error_with_cause(std::string_view message) {
  PyObject *type = nullptr, *cause = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &cause, &traceback);
  PyErr_NormalizeException(&type, &cause, &traceback);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  raise_runtime_error(message);
  if (!cause) return;
  PyObject *new_type = nullptr, *error = nullptr, *new_traceback = nullptr;
  PyErr_Fetch(&new_type, &error, &new_traceback);
  PyErr_NormalizeException(&new_type, &error, &new_traceback);
  if (error) {
    PyException_SetCause(error, cause);  // takes over `cause`
  } else {
    Py_DECREF(cause);
  }
  PyErr_Restore(new_type, error, new_traceback);
}

void raise_type_error(std::string_view message) { raise_with_text(PyExc_TypeError, message); }
void raise_value_error(std::string_view message) { raise_with_text(PyExc_ValueError, message); }

void raise_shared_borrow_error() { raise_runtime_error("Already mutably borrowed"); }
void raise_exclusive_borrow_error() { raise_runtime_error("Already borrowed"); }

std::string type_qualname(PyObject* type) {
  PyRef name = PyRef::steal(PyObject_GetAttrString(type, "__qualname__"));
  if (name && PyUnicode_Check(name.get())) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(name.get(), &size);
    if (utf8) return std::string(utf8, static_cast<size_t>(size));
  }
  PyErr_Clear();
  return "unknown";
}

std::string type_check_text(PyObject* obj, const char* expected) {
  std::string text;
  if (obj == Py_None) {
    text = "'None' is not an instance of '";
  } else {
    text = "'";
    text += type_qualname(reinterpret_cast<PyObject*>(Py_TYPE(obj)));
    text += "' object is not an instance of '";
  }
  text.append(expected, std::strlen(expected));
  text.push_back('\'');
  return text;
}

void raise_type_check(PyObject* obj, const char* expected) {
  raise_type_error(type_check_text(obj, expected));
}

void add_note_to_pending(const std::string& note) {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value) {
    PyRef add_note =
        PyRef::steal(calling_python([&] { return PyObject_GetAttrString(value, "add_note"); }));
    if (add_note) {
      PyRef text = PyRef::steal(
          PyUnicode_FromStringAndSize(note.data(), static_cast<Py_ssize_t>(note.size())));
      if (text) {
        PyRef::steal(calling_python(
            [&] { return PyObject_CallFunctionObjArgs(add_note.get(), text.get(), nullptr); }));
      }
    }
    PyErr_Clear();
    if (traceback) PyException_SetTraceback(value, traceback);
  }
  PyErr_Restore(type, value, traceback);
}

std::string take_pending_error_text() {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef type_ref = PyRef::steal(type), value_ref = PyRef::steal(value),
        traceback_ref = PyRef::steal(traceback);
  std::string text = type ? type_qualname(type) : std::string("unknown");
  text += ": ";
  PyRef str = PyRef::steal(value ? calling_python([&] { return PyObject_Str(value); }) : nullptr);
  Py_ssize_t size = 0;
  const char* utf8 = str ? PyUnicode_AsUTF8AndSize(str.get(), &size) : nullptr;
  if (utf8) {
    text.append(utf8, static_cast<size_t>(size));
  } else {
    text += "<exception str() failed>";
  }
  PyErr_Clear();
  return text;
}

}  // namespace quorvane::binding
