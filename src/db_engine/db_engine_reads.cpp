// DBEngine's reads methods (placeholders until they land).
#include "binding/errors.h"
#include "db_engine/db_engine_object.h"

namespace quorvane::db_engine {

PyObject* db_engine_get(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  PyErr_SetString(PyExc_NotImplementedError, "get");
  return nullptr;
}

PyObject* db_engine_get_many(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  PyErr_SetString(PyExc_NotImplementedError, "get_many");
  return nullptr;
}

PyObject* db_engine_scan_prefix(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  PyErr_SetString(PyExc_NotImplementedError, "scan_prefix");
  return nullptr;
}

PyObject* db_engine_filter_by_metadata(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  PyErr_SetString(PyExc_NotImplementedError, "filter_by_metadata");
  return nullptr;
}

}  // namespace quorvane::db_engine
