#include "binding/args.h"

#include <span>
#include <string>
#include <vector>

#include "binding/errors.h"
#include "binding/py_ref.h"

namespace quorvane::binding {

namespace {

std::string full_name(const Signature& sig) {
  std::string name;
  if (sig.class_name) {
    name += sig.class_name;
    name += '.';
  }
  name += sig.function_name;
  name += "()";
  return name;
}

std::string quoted_list(std::span<const char* const> names) {
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
    text += '\'';
    text += names[i];
    text += '\'';
  }
  return text;
}

bool report_missing(const Signature& sig, PyObject** out) {
  std::vector<const char*> missing;
  for (size_t i = 0; i < sig.required; ++i) {
    if (!out[i]) missing.push_back(sig.parameters[i]);
  }
  if (missing.empty()) return true;
  raise_type_error(full_name(sig) + " missing " + std::to_string(missing.size()) +
                   " required positional argument" + (missing.size() == 1 ? "" : "s") + ": " +
                   quoted_list(missing));
  return false;
}

bool too_many_positional(const Signature& sig, Py_ssize_t given) {
  const size_t max = sig.parameters.size();
  std::string text = full_name(sig) + " takes ";
  if (sig.required != max) {
    text += "from " + std::to_string(sig.required) + " to " + std::to_string(max);
  } else {
    text += std::to_string(max);
  }
  text += " positional argument";
  text += max == 1 && sig.required == max ? "" : "s";
  text += " but " + std::to_string(given) + (given == 1 ? " was" : " were") + " given";
  raise_type_error(text);
  return false;
}

// Places one keyword argument; false with TypeError set.
bool place_keyword(const Signature& sig, PyObject* name, PyObject* value, PyObject** out) {
  for (size_t i = 0; i < sig.parameters.size(); ++i) {
    if (PyUnicode_CompareWithASCIIString(name, sig.parameters[i]) == 0) {
      if (out[i]) {
        raise_type_error(full_name(sig) + " got multiple values for argument '" +
                         sig.parameters[i] + "'");
        return false;
      }
      out[i] = value;
      return true;
    }
  }
  PyErr_Clear();
  PyRef repr = PyRef::steal(PyObject_Str(name));
  Py_ssize_t size = 0;
  const char* text = repr ? PyUnicode_AsUTF8AndSize(repr.get(), &size) : nullptr;
  PyErr_Clear();
  raise_type_error(full_name(sig) + " got an unexpected keyword argument '" +
                   (text ? std::string(text, static_cast<size_t>(size)) : std::string("?")) + "'");
  return false;
}

}  // namespace

bool match_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, PyObject** out) {
  const size_t count = sig.parameters.size();
  for (size_t i = 0; i < count; ++i) out[i] = nullptr;
  if (static_cast<size_t>(nargs) > count) return too_many_positional(sig, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
  if (kwnames) {
    const Py_ssize_t nkw = PyTuple_Size(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      if (!place_keyword(sig, PyTuple_GetItem(kwnames, k), args[nargs + k], out)) return false;
    }
  }
  return report_missing(sig, out);
}

bool match_arguments_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out) {
  const size_t count = sig.parameters.size();
  for (size_t i = 0; i < count; ++i) out[i] = nullptr;
  const Py_ssize_t nargs = PyTuple_Size(args);
  if (static_cast<size_t>(nargs) > count) return too_many_positional(sig, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = PyTuple_GetItem(args, i);
  if (kwargs) {
    Py_ssize_t pos = 0;
    PyObject *key = nullptr, *value = nullptr;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!place_keyword(sig, key, value, out)) return false;
    }
  }
  return report_missing(sig, out);
}

bool argument_failed(const char* parameter) {
  add_note_to_pending(std::string("while processing '") + parameter + "'");
  return false;
}

bool extract_str_item(PyObject* obj, std::string_view& out) {
  if (!PyUnicode_Check(obj)) {
    raise_type_check(obj, "str");
    return false;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size);
  if (!utf8) return false;
  out = std::string_view(utf8, static_cast<size_t>(size));
  return true;
}

bool extract_str(PyObject* obj, const char* parameter, std::string_view& out) {
  if (!extract_str_item(obj, out)) return argument_failed(parameter);
  return true;
}

bool extract_dict(PyObject* obj, const char* parameter) {
  if (PyDict_Check(obj)) return true;
  raise_type_check(obj, "dict");
  return argument_failed(parameter);
}

bool extract_optional_str(PyObject* obj, const char* parameter,
                          std::optional<std::string_view>& out) {
  out.reset();
  if (!obj || obj == Py_None) return true;
  std::string_view text;
  if (!extract_str(obj, parameter, text)) return false;
  out = text;
  return true;
}

bool extract_bool(PyObject* obj, const char* parameter, bool& out) {
  if (PyBool_Check(obj)) {
    out = obj == Py_True;
    return true;
  }
  // numpy.bool_ is accepted as well, by its type's name and its truth value.
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
  PyRef module = PyRef::steal(PyObject_GetAttrString(type, "__module__"));
  PyErr_Clear();
  if (module && PyUnicode_Check(module.get()) &&
      PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0) {
    const std::string name = type_qualname(type);
    if (name == "bool_" || name == "bool") {
      const int truth = calling_python([&] { return PyObject_IsTrue(obj); });
      if (truth < 0) return argument_failed(parameter);
      out = truth != 0;
      return true;
    }
  }
  raise_type_check(obj, "PyBool");
  return argument_failed(parameter);
}

bool extract_optional_u64(PyObject* obj, const char* parameter, std::optional<uint64_t>& out) {
  out.reset();
  if (obj == Py_None) return true;
  PyRef index = PyRef::steal(calling_python([&] { return PyNumber_Index(obj); }));
  if (!index) return argument_failed(parameter);
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    return argument_failed(parameter);
  }
  out = value;
  return true;
}

bool check_sequence_argument(PyObject* obj) {
  if (PyUnicode_Check(obj)) {
    raise_type_error("Can't extract `str` to `Vec`");
    return false;
  }
  if (!PySequence_Check(obj)) {
    raise_type_check(obj, "Sequence");
    return false;
  }
  return true;
}

bool unpack_pair(PyObject* obj, PyObject*& first, PyObject*& second) {
  if (!PyTuple_Check(obj)) {
    raise_type_check(obj, "tuple");
    return false;
  }
  const Py_ssize_t size = PyTuple_Size(obj);
  if (size != 2) {
    raise_value_error("expected tuple of length 2, but got tuple of length " +
                      std::to_string(size));
    return false;
  }
  first = PyTuple_GetItem(obj, 0);
  second = PyTuple_GetItem(obj, 1);
  return true;
}

}  // namespace quorvane::binding
