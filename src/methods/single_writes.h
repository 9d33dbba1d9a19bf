// The single-record write methods, insert, upsert, delete and insert_json, as one body per
// method for both classes (`Class` is a traits struct, see class_traits.h).
//
// Each call checks that the instance belongs to this process, matches its arguments, takes
// the shared borrow of the instance, converts its
// arguments in parameter order, tests that the writers are alive, encodes or validates, and
// sends one operation with a blocking send, the GIL held throughout: the writer threads never
// need the GIL, so a full queue drains while the caller waits. Once the operation is queued
// the class may log it (Class::log_written). A document that one store record cannot hold
// with its id is refused here, before it is queued.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "binding/args.h"
#include "binding/borrow.h"
#include "binding/errors.h"
#include "binding/process_owner.h"
#include "binding/python.h"
#include "methods/class_traits.h"
#include "methods/write_steps.h"

namespace quorvane::methods {

namespace detail {

template <class Class>
PyObject* send_and_log(typename Class::Engine& engine, typename Class::Op op, WriteAction action,
                       std::string_view id) {
  if (!engine.send(std::move(op))) {
    raise_send_failure(kSendFailedPattern);
    return nullptr;
  }
  Class::log_written(engine, action, id);
  Py_RETURN_NONE;
}

// insert and upsert: (id, payload) encoded into the operation `make_op` builds.
template <class Class, class MakeOp>
PyObject* write_document(PyObject* self, const py::Signature& sig, PyObject* const* args,
                         Py_ssize_t nargs, PyObject* kwnames, MakeOp make_op, WriteAction action) {
  if (!py::owned_here(Class::owner(self))) return nullptr;
  PyObject* argv[2];
  if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
  py::SharedBorrow borrow(Class::borrow(self));
  if (!borrow.ok()) return nullptr;
  std::string_view id;
  if (!py::extract_str(argv[0], "id", id)) return nullptr;
  if (!py::extract_dict(argv[1], "payload")) return nullptr;
  typename Class::Engine& engine = Class::engine(self);
  if (!worker_running(engine.worker_alive())) return nullptr;
  DocBytes doc;
  if (!accept_or_raise(encode_payload(argv[1], id, kSingleEncodeMessage, doc))) return nullptr;
  return send_and_log<Class>(engine, make_op(std::string(id), std::move(doc)), action, id);
}

}  // namespace detail

template <class Class>
PyObject* insert(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    static const py::Signature sig{"insert", Class::kName, {"id", "payload"}, 2};
    return detail::write_document<Class>(self, sig, args, nargs, kwnames, &Class::Op::insert,
                                         WriteAction::Insert);
  });
}

template <class Class>
PyObject* upsert(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    static const py::Signature sig{"upsert", Class::kName, {"id", "payload"}, 2};
    return detail::write_document<Class>(self, sig, args, nargs, kwnames, &Class::Op::upsert,
                                         WriteAction::Upsert);
  });
}

template <class Class>
PyObject* remove(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    if (!py::owned_here(Class::owner(self))) return nullptr;
    static const py::Signature sig{"delete", Class::kName, {"id"}, 1};
    PyObject* argv[1];
    if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
    py::SharedBorrow borrow(Class::borrow(self));
    if (!borrow.ok()) return nullptr;
    std::string_view id;
    if (!py::extract_str(argv[0], "id", id)) return nullptr;
    typename Class::Engine& engine = Class::engine(self);
    if (!worker_running(engine.worker_alive())) return nullptr;
    return detail::send_and_log<Class>(engine, Class::Op::remove(std::string(id)),
                                       WriteAction::Delete, id);
  });
}

template <class Class>
PyObject* insert_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    if (!py::owned_here(Class::owner(self))) return nullptr;
    static const py::Signature sig{"insert_json", Class::kName, {"id", "json_payload"}, 2};
    PyObject* argv[2];
    if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
    py::SharedBorrow borrow(Class::borrow(self));
    if (!borrow.ok()) return nullptr;
    std::string_view id, text;
    if (!py::extract_str(argv[0], "id", id)) return nullptr;
    if (!py::extract_str(argv[1], "json_payload", text)) return nullptr;
    typename Class::Engine& engine = Class::engine(self);
    if (!worker_running(engine.worker_alive())) return nullptr;
    if (!accept_or_raise(check_json_payload(text, id, kSingleValidationMessage))) return nullptr;
    return detail::send_and_log<Class>(engine,
                                       Class::Op::insert(std::string(id), DocBytes::copy_of(text)),
                                       WriteAction::Insert, id);
  });
}

}  // namespace quorvane::methods
