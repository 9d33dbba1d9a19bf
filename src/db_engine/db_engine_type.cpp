// The DBEngine class: construction, release, close_engine and the method table. An instance
// belongs to the process that constructed it; every method checks that first.
#include <new>
#include <string>

#include "binding/args.h"
#include "binding/class_builder.h"
#include "binding/errors.h"
#include "binding/process_owner.h"
#include "db_engine/db_engine_object.h"

namespace quorvane::db_engine {

namespace {

PyObject* db_engine_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    static const py::Signature sig{"__new__", "DBEngine", {"path"}, 1};
    PyObject* argv[1];
    if (!py::match_arguments_tuple(sig, args, kwargs, argv)) return nullptr;
    std::string_view path;
    if (!py::extract_str(argv[0], "path", path)) return nullptr;

    Result<DBEngine> engine = DBEngine::open(std::string(path));
    if (!engine) {
      py::raise_runtime_error(engine.error());
      return nullptr;
    }
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* self = alloc(type, 0);
    if (!self) return nullptr;  // the engine is released here: its worker drains and ends
    DBEngineObject* obj = as_engine(self);
    new (&obj->owner) py::ProcessOwner("DBEngine");
    new (&obj->borrow) py::BorrowFlag();
    new (&obj->engine) DBEngine(std::move(engine).value());
    new (&obj->keys) document::KeyCache();
    return self;
  });
}

void db_engine_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  DBEngineObject* obj = as_engine(self);
  obj->keys.~KeyCache();
  // A copy inherited through fork() is left as it is (see binding/process_owner.h): its
  // worker does not exist here and its store's files and lock are the parent's.
  if (obj->owner.here()) obj->engine.~DBEngine();
  obj->borrow.~BorrowFlag();
  obj->owner.~ProcessOwner();
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DECREF(type);
}

#define FASTCALL(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f))

constexpr int kFastCall = METH_FASTCALL | METH_KEYWORDS;

// In the order of the class's method table.
PyMethodDef db_engine_methods[] = {
    {"close_engine", db_engine_close_engine, METH_NOARGS, "close_engine($self)\n--\n\n"},
    {"insert", FASTCALL(db_engine_insert), kFastCall, "insert($self, id, payload)\n--\n\n"},
    {"insert_json", FASTCALL(db_engine_insert_json), kFastCall,
     "insert_json($self, id, json_payload)\n--\n\n"},
    {"insert_many", FASTCALL(db_engine_insert_many), kFastCall,
     "insert_many($self, records)\n--\n\n"},
    {"insert_many_json", FASTCALL(db_engine_insert_many_json), kFastCall,
     "insert_many_json($self, records)\n--\n\n"},
    {"get", FASTCALL(db_engine_get), kFastCall, "get($self, id)\n--\n\n"},
    {"get_many", FASTCALL(db_engine_get_many), kFastCall, "get_many($self, ids)\n--\n\n"},
    {"delete", FASTCALL(db_engine_delete), kFastCall, "delete($self, id)\n--\n\n"},
    {"scan_prefix", FASTCALL(db_engine_scan_prefix), kFastCall,
     "scan_prefix($self, prefix)\n--\n\n"},
    {"upsert", FASTCALL(db_engine_upsert), kFastCall, "upsert($self, id, payload)\n--\n\n"},
    {"filter_by_metadata", FASTCALL(db_engine_filter_by_metadata), kFastCall,
     "filter_by_metadata($self, index_key, index_value)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

#undef FASTCALL

PyType_Slot db_engine_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(db_engine_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(db_engine_dealloc)},
    {Py_tp_methods, db_engine_methods},
    {Py_tp_doc, const_cast<char*>("DBEngine(path)\n--\n\n")},
    {0, nullptr},
};

PyType_Spec db_engine_spec = {
    "builtins.DBEngine", sizeof(DBEngineObject), 0, Py_TPFLAGS_DEFAULT, db_engine_slots,
};

}  // namespace

PyObject* db_engine_type() {
  // Created once per process and kept for its life.
  static PyObject* type = nullptr;
  if (!type) type = py::create_class(&db_engine_spec);
  return type;
}

PyObject* db_engine_close_engine(PyObject* self, PyObject* /*unused*/) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    if (!py::owned_here(as_engine(self)->owner)) return nullptr;
    py::ExclusiveBorrow borrow(as_engine(self)->borrow);
    if (!borrow.ok()) return nullptr;
    if (Status s = as_engine(self)->engine.close_engine(); !s) {
      py::raise_runtime_error(s.error());
      return nullptr;
    }
    Py_RETURN_NONE;
  });
}

}  // namespace quorvane::db_engine
