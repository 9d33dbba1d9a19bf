// The module's entry: PyInit_quorvane hands the interpreter the module definition for
// multi-phase initialisation, and the one execution step registers the classes.
//
// Adding a class N: create (once per process) its type object, append N to the module's
// __all__ (created when missing) and set the attribute N. A failure while adding DBEngine
// fails the import; one while adding DBEngineWebServer is dropped. A failure to append to
// __all__ is a fault for either class. The first execution step of the process also hooks in
// the commit of every instance's writes at the interpreter's end (exit_hook.h).
#include <stdexcept>
#include <string>

#include "binding/errors.h"
#include "binding/py_ref.h"
#include "binding/python.h"
#include "db_engine/db_engine_class.h"
#include "db_engine_web_server/db_engine_web_server_class.h"
#include "module/exit_hook.h"

namespace quorvane::module {

namespace {

using TypeFactory = PyObject* (*)();

// The class object of N, or RuntimeError "An error occurred while initializing class N"
// chained to the error that made its creation fail.
PyObject* class_object(const char* name, TypeFactory factory) {
  PyObject* type = factory();
  if (!type) {
    binding::raise_runtime_error_with_cause(
        std::string("An error occurred while initializing class ") + name);
  }
  return type;
}

bool add_class(PyObject* module, const char* name, TypeFactory factory) {
  PyObject* type = class_object(name, factory);
  if (!type) return false;

  binding::PyRef all = binding::PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = binding::PyRef::steal(PyList_New(0));
    if (!all) return false;
    if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  } else if (!PyList_Check(all.get())) {
    binding::raise_type_check(all.get(), "list");
    return false;
  }
  binding::PyRef text = binding::PyRef::steal(PyUnicode_FromString(name));
  if (!text || PyList_Append(all.get(), text.get()) < 0) {
    PyErr_Clear();
    throw std::runtime_error("could not append __name__ to __all__");
  }
  return PyObject_SetAttrString(module, name, type) == 0;
}

int quorvane_exec(PyObject* module) {
  return binding::guarded<int>([&]() -> int {
    if (!PyModule_Check(module)) {
      binding::raise_type_check(module, "module");
      return -1;
    }
    if (!hook_exit_commit()) return -1;
    if (!add_class(module, "DBEngine", db_engine::db_engine_type)) return -1;
    // The import succeeds without DBEngineWebServer when it cannot be added.
    if (!add_class(module, "DBEngineWebServer", db_engine_web_server::db_engine_web_server_type)) {
      PyErr_Clear();
    }
    return 0;
  });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(quorvane_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "quorvane", "", 0, nullptr, module_slots, nullptr, nullptr, nullptr,
};

}  // namespace

}  // namespace quorvane::module

PyMODINIT_FUNC PyInit_quorvane() { return PyModuleDef_Init(&quorvane::module::module_def); }
