// The DBEngineWebServer class: construction, release, the method table, and the members that
// shut it down and report on it (close_engine, __enter__, __exit__, queue_size). The writes,
// the reads and trigger_backup have files of their own. An instance belongs to the process
// that constructed it; every method and the property check that first.
#include <new>
#include <optional>
#include <string>

#include "binding/args.h"
#include "binding/class_builder.h"
#include "binding/errors.h"
#include "binding/process_owner.h"
#include "db_engine_web_server/db_engine_web_server_object.h"

namespace quorvane::web_server {

namespace {

std::optional<std::string> owned(const std::optional<std::string_view>& text) {
  if (!text) return std::nullopt;
  return std::string(*text);
}

PyObject* server_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    static const py::Signature sig{
        "__new__", "DBEngineWebServer", {"path", "backup_time", "backup_dir", "enable_logging"}, 1};
    PyObject* argv[4];
    if (!py::match_arguments_tuple(sig, args, kwargs, argv)) return nullptr;
    std::string_view path;
    std::optional<std::string_view> backup_time;
    std::optional<std::string_view> backup_dir;
    bool enable_logging = false;
    if (!py::extract_str(argv[0], "path", path)) return nullptr;
    if (!py::extract_optional_str(argv[1], "backup_time", backup_time)) return nullptr;
    if (!py::extract_optional_str(argv[2], "backup_dir", backup_dir)) return nullptr;
    if (argv[3] && !py::extract_bool(argv[3], "enable_logging", enable_logging)) return nullptr;

    Result<DBEngineWebServer> server = DBEngineWebServer::open(
        std::string(path), owned(backup_time), owned(backup_dir), enable_logging);
    if (!server) {
      py::raise_runtime_error(server.error());
      return nullptr;
    }
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* self = alloc(type, 0);
    if (!self) return nullptr;  // the server is released here: its threads drain and end
    DBEngineWebServerObject* obj = as_server(self);
    new (&obj->owner) py::ProcessOwner("DBEngineWebServer");
    new (&obj->borrow) py::BorrowFlag();
    new (&obj->server) DBEngineWebServer(std::move(server).value());
    new (&obj->keys) document::KeyCache();
    return self;
  });
}

void server_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  DBEngineWebServerObject* obj = as_server(self);
  obj->keys.~KeyCache();
  // A copy inherited through fork() is left as it is (see binding/process_owner.h): its
  // threads do not exist here and its store's files and lock are the parent's.
  if (obj->owner.here()) obj->server.~DBEngineWebServer();
  obj->borrow.~BorrowFlag();
  obj->owner.~ProcessOwner();
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DECREF(type);
}

PyObject* server_close_engine(PyObject* self, PyObject* /*unused*/) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    if (!py::owned_here(as_server(self)->owner)) return nullptr;
    py::ExclusiveBorrow borrow(as_server(self)->borrow);
    if (!borrow.ok()) return nullptr;
    as_server(self)->server.close_engine();
    Py_RETURN_NONE;
  });
}

PyObject* server_enter(PyObject* self, PyObject* /*unused*/) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    if (!py::owned_here(as_server(self)->owner)) return nullptr;
    Py_INCREF(self);
    return self;
  });
}

PyObject* server_exit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    if (!py::owned_here(as_server(self)->owner)) return nullptr;
    static const py::Signature sig{
        "__exit__", "DBEngineWebServer", {"_exc_type", "_exc_value", "_traceback"}, 3};
    PyObject* argv[3];
    if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
    py::ExclusiveBorrow borrow(as_server(self)->borrow);
    if (!borrow.ok()) return nullptr;
    as_server(self)->server.close_engine();
    Py_RETURN_FALSE;
  });
}

PyObject* server_get_queue_size(PyObject* self, void* /*closure*/) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    if (!py::owned_here(as_server(self)->owner)) return nullptr;
    py::SharedBorrow borrow(as_server(self)->borrow);
    if (!borrow.ok()) return nullptr;
    return PyLong_FromSize_t(as_server(self)->server.queue_size());
  });
}

#define FASTCALL(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f))

constexpr int kFastCall = METH_FASTCALL | METH_KEYWORDS;

// In the order of the class's method table.
PyMethodDef server_methods[] = {
    {"close_engine", server_close_engine, METH_NOARGS, "close_engine($self)\n--\n\n"},
    {"insert", FASTCALL(server_insert), kFastCall, "insert($self, id, payload)\n--\n\n"},
    {"insert_json", FASTCALL(server_insert_json), kFastCall,
     "insert_json($self, id, json_payload)\n--\n\n"},
    {"insert_many", FASTCALL(server_insert_many), kFastCall, "insert_many($self, records)\n--\n\n"},
    {"insert_many_json", FASTCALL(server_insert_many_json), kFastCall,
     "insert_many_json($self, records)\n--\n\n"},
    {"get", FASTCALL(server_get), kFastCall, "get($self, id)\n--\n\n"},
    {"get_many", FASTCALL(server_get_many), kFastCall, "get_many($self, ids)\n--\n\n"},
    {"delete", FASTCALL(server_delete), kFastCall, "delete($self, id)\n--\n\n"},
    {"scan_prefix", FASTCALL(server_scan_prefix), kFastCall, "scan_prefix($self, prefix)\n--\n\n"},
    {"upsert", FASTCALL(server_upsert), kFastCall, "upsert($self, id, payload)\n--\n\n"},
    {"filter_by_metadata", FASTCALL(server_filter_by_metadata), kFastCall,
     "filter_by_metadata($self, index_key, index_value, limit, offset)\n--\n\n"},
    {"trigger_backup", FASTCALL(server_trigger_backup), kFastCall,
     "trigger_backup($self, target_path)\n--\n\n"},
    {"__enter__", server_enter, METH_NOARGS, "__enter__($self)\n--\n\n"},
    {"__exit__", FASTCALL(server_exit), kFastCall,
     "__exit__($self, _exc_type, _exc_value, _traceback)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

#undef FASTCALL

PyGetSetDef server_getset[] = {
    {"queue_size", server_get_queue_size, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot server_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(server_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(server_dealloc)},
    {Py_tp_methods, server_methods},
    {Py_tp_getset, server_getset},
    {Py_tp_doc, const_cast<char*>("DBEngineWebServer(path, backup_time=None, backup_dir=None, "
                                  "enable_logging=False)\n--\n\n")},
    {0, nullptr},
};

PyType_Spec server_spec = {
    "builtins.DBEngineWebServer",
    sizeof(DBEngineWebServerObject),
    0,
    Py_TPFLAGS_DEFAULT,
    server_slots,
};

}  // namespace

PyObject* db_engine_web_server_type() {
  // Created once per process and kept for its life.
  static PyObject* type = nullptr;
  if (!type) type = py::create_class(&server_spec);
  return type;
}

}  // namespace quorvane::web_server
