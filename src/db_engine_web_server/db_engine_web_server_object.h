// The Python object of DBEngineWebServer: the interpreter's header, the owning process, the
// borrow flag and the server.
#pragma once

#include "binding/borrow.h"
#include "binding/process_owner.h"
#include "binding/python.h"
#include "db_engine_web_server/db_engine_web_server.h"
#include "document/key_cache.h"

namespace quorvane::web_server {

struct DBEngineWebServerObject {
  PyObject_HEAD py::ProcessOwner owner;
  py::BorrowFlag borrow;
  DBEngineWebServer server;
  // The str objects of recently decoded dict keys, reused by every read of this instance; used
  // and released with the GIL held.
  document::KeyCache keys;
};

inline DBEngineWebServerObject* as_server(PyObject* self) {
  return reinterpret_cast<DBEngineWebServerObject*>(self);
}

// The class object (a heap type named "DBEngineWebServer", module "builtins", not
// subclassable, without __dict__ or weak references), created on first use; a borrowed
// reference, or null with an exception set.
PyObject* db_engine_web_server_type();

// The method table is in db_engine_web_server_type.cpp, beside the members that construct,
// shut down and report on the instance; the other method bodies are defined one file per
// concern (writes, reads, backups).
PyObject* server_insert(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* server_upsert(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* server_delete(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* server_insert_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames);
PyObject* server_insert_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames);
PyObject* server_insert_many_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames);
PyObject* server_get(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* server_get_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames);
PyObject* server_scan_prefix(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames);
PyObject* server_filter_by_metadata(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames);
PyObject* server_trigger_backup(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames);

}  // namespace quorvane::web_server
