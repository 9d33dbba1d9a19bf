// The Python object of DBEngine: the interpreter's header, the owning process, the borrow
// flag and the engine.
#pragma once

#include "binding/borrow.h"
#include "binding/process_owner.h"
#include "binding/python.h"
#include "db_engine/db_engine.h"
#include "document/key_cache.h"

namespace quorvane::db_engine {

struct DBEngineObject {
  PyObject_HEAD py::ProcessOwner owner;
  py::BorrowFlag borrow;
  DBEngine engine;
  // The str objects of recently decoded dict keys, reused by every read of this instance; used
  // and released with the GIL held.
  document::KeyCache keys;
};

inline DBEngineObject* as_engine(PyObject* self) { return reinterpret_cast<DBEngineObject*>(self); }

// The class object (a heap type named "DBEngine", module "builtins", not subclassable,
// without __dict__ or weak references), created on first use; a borrowed reference, or null
// with an exception set.
PyObject* db_engine_type();

// Method bodies, one file per concern.
PyObject* db_engine_close_engine(PyObject* self, PyObject* unused);
PyObject* db_engine_insert(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames);
PyObject* db_engine_upsert(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames);
PyObject* db_engine_delete(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames);
PyObject* db_engine_insert_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames);
PyObject* db_engine_insert_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames);
PyObject* db_engine_insert_many_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames);
PyObject* db_engine_get(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* db_engine_get_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames);
PyObject* db_engine_scan_prefix(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames);
PyObject* db_engine_filter_by_metadata(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames);

}  // namespace quorvane::db_engine
