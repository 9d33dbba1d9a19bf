// The single-record write methods, insert, upsert, delete and insert_json, described once for
// both classes (`Class` is a traits struct, see class_traits.h).
//
// After the entry steps (binding/method.h: the process check, argument matching, the shared
// borrow) each call converts its arguments in parameter order, tests that the writers are
// alive, encodes or validates, and sends one operation with a blocking send, the GIL held
// throughout: the writer threads never need the GIL, so a full queue drains while the caller
// waits. Once the operation is queued the class may log it (Class::log_written). A document
// that one store record cannot hold with its id is refused here, before it is queued.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "binding/args.h"
#include "binding/method.h"
#include "binding/python.h"
#include "methods/class_traits.h"
#include "methods/write_steps.h"

namespace quorvane::methods {

namespace detail {

template <ClassTraits Class>
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
template <ClassTraits Class, class MakeOp>
PyObject* write_document(typename Class::Engine& engine, const binding::Arguments<2>& args,
                         MakeOp make_op, WriteAction action) {
  std::string_view id;
  if (!binding::extract_str(args[0], "id", id)) return nullptr;
  if (!binding::extract_dict(args[1], "payload")) return nullptr;
  if (!worker_running(engine.worker_alive())) return nullptr;
  document::DocBytes doc;
  if (!accept_or_raise(encode_payload(args[1], id, kSingleEncodeMessage, doc))) return nullptr;
  return send_and_log<Class>(engine, make_op(std::string(id), std::move(doc)), action, id);
}

}  // namespace detail

template <ClassTraits Class>
struct Insert {
  static constexpr const char* kName = "insert";
  static constexpr std::array kParameters{"id", "payload"};
  static constexpr binding::Borrow kBorrow = binding::Borrow::Shared;

  static PyObject* call(binding::ObjectOf<Class>& self, const binding::Arguments<2>& args) {
    return detail::write_document<Class>(self.engine, args, &Class::Op::insert,
                                         WriteAction::Insert);
  }
};

template <ClassTraits Class>
struct Upsert {
  static constexpr const char* kName = "upsert";
  static constexpr std::array kParameters{"id", "payload"};
  static constexpr binding::Borrow kBorrow = binding::Borrow::Shared;

  static PyObject* call(binding::ObjectOf<Class>& self, const binding::Arguments<2>& args) {
    return detail::write_document<Class>(self.engine, args, &Class::Op::upsert,
                                         WriteAction::Upsert);
  }
};

template <ClassTraits Class>
struct Delete {
  static constexpr const char* kName = "delete";
  static constexpr std::array kParameters{"id"};
  static constexpr binding::Borrow kBorrow = binding::Borrow::Shared;

  static PyObject* call(binding::ObjectOf<Class>& self, const binding::Arguments<1>& args) {
    std::string_view id;
    if (!binding::extract_str(args[0], "id", id)) return nullptr;
    if (!worker_running(self.engine.worker_alive())) return nullptr;
    return detail::send_and_log<Class>(self.engine, Class::Op::remove(std::string(id)),
                                       WriteAction::Delete, id);
  }
};

template <ClassTraits Class>
struct InsertJson {
  static constexpr const char* kName = "insert_json";
  static constexpr std::array kParameters{"id", "json_payload"};
  static constexpr binding::Borrow kBorrow = binding::Borrow::Shared;

  static PyObject* call(binding::ObjectOf<Class>& self, const binding::Arguments<2>& args) {
    std::string_view id, text;
    if (!binding::extract_str(args[0], "id", id)) return nullptr;
    if (!binding::extract_str(args[1], "json_payload", text)) return nullptr;
    if (!worker_running(self.engine.worker_alive())) return nullptr;
    if (!accept_or_raise(check_json_payload(text, id, kSingleValidationMessage))) return nullptr;
    return detail::send_and_log<Class>(
        self.engine, Class::Op::insert(std::string(id), document::DocBytes::copy_of(text)),
        WriteAction::Insert, id);
  }
};

}  // namespace quorvane::methods
