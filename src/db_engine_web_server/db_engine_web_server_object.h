// The Python object of DBEngineWebServer: the interpreter's header, the borrow flag and the
// server.
#pragma once

#include "binding/borrow.h"
#include "binding/python.h"
#include "db_engine_web_server/db_engine_web_server.h"

namespace quorvane::web_server {

struct DBEngineWebServerObject {
  PyObject_HEAD
  py::BorrowFlag borrow;
  DBEngineWebServer server;
};

inline DBEngineWebServerObject* as_server(PyObject* self) {
  return reinterpret_cast<DBEngineWebServerObject*>(self);
}

// The class object (a heap type named "DBEngineWebServer", module "builtins", not
// subclassable, without __dict__ or weak references), created on first use; a borrowed
// reference, or null with an exception set.
PyObject* db_engine_web_server_type();

// The method table is in db_engine_web_server_type.cpp, beside the members that construct,
// shut down and report on the instance; further method bodies are declared here and defined
// one file per concern (writes, reads, backups).

}  // namespace quorvane::web_server
