// DBEngine's writes methods (placeholders until they land).
#include "binding/errors.h"
#include "db_engine/db_engine_object.h"

namespace quorvane::db_engine {

PyObject* db_engine_insert(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  PyErr_SetString(PyExc_NotImplementedError, "insert");
  return nullptr;
}

PyObject* db_engine_upsert(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  PyErr_SetString(PyExc_NotImplementedError, "upsert");
  return nullptr;
}

PyObject* db_engine_delete(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  PyErr_SetString(PyExc_NotImplementedError, "delete");
  return nullptr;
}

PyObject* db_engine_insert_json(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  PyErr_SetString(PyExc_NotImplementedError, "insert_json");
  return nullptr;
}

PyObject* db_engine_insert_many(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  PyErr_SetString(PyExc_NotImplementedError, "insert_many");
  return nullptr;
}

PyObject* db_engine_insert_many_json(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  PyErr_SetString(PyExc_NotImplementedError, "insert_many_json");
  return nullptr;
}

}  // namespace quorvane::db_engine
