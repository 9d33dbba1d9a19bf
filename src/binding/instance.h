// Instance<Engine>: the Python object of either class, laid out once for both. It holds the
// interpreter's header, the process that constructed it, the borrow flag, the C++ engine and
// the cache of decoded dict keys.
//
// create_instance() allocates one through the type's tp_alloc and moves the engine in;
// dealloc_instance() is the type's tp_dealloc. A copy inherited through fork() keeps its
// engine as it is (see process_owner.h): its threads do not exist in the child, and its
// store's files and lock are the parent's. Everything else is released in every process.
#pragma once

#include <new>
#include <type_traits>
#include <utility>

#include "binding/borrow.h"
#include "binding/process_owner.h"
#include "binding/python.h"
#include "document/python/key_cache.h"

namespace quorvane::binding {

template <class Engine>
struct Instance {
  PyObject_HEAD ProcessOwner owner;
  BorrowFlag borrow;
  Engine engine;
  // The str objects of recently decoded dict keys, reused by every read of this instance; used
  // and released with the GIL held.
  document::python::KeyCache keys;

  PyObject* object() { return reinterpret_cast<PyObject*>(this); }
};

template <class Engine>
Instance<Engine>& instance_of(PyObject* self) {
  return *reinterpret_cast<Instance<Engine>*>(self);
}

// A new instance of `type` owning `engine`, or null with an exception set (the engine is then
// released by the caller).
template <class Engine>
PyObject* create_instance(PyTypeObject* type, std::type_identity_t<Engine>&& engine) {
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* self = alloc(type, 0);
  if (!self) return nullptr;
  Instance<Engine>& instance = instance_of<Engine>(self);
  new (&instance.owner) ProcessOwner();
  new (&instance.borrow) BorrowFlag();
  new (&instance.engine) Engine(std::move(engine));
  new (&instance.keys) document::python::KeyCache();
  return self;
}

template <class Engine>
void dealloc_instance(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  Instance<Engine>& instance = instance_of<Engine>(self);
  instance.keys.~KeyCache();
  if (instance.owner.here()) instance.engine.~Engine();
  instance.borrow.~BorrowFlag();
  instance.owner.~ProcessOwner();
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DECREF(type);
}

}  // namespace quorvane::binding
