// What the methods shared by DBEngine and DBEngineWebServer (read_steps.h, single_writes.h,
// class_methods.h) need of a class: the concept ClassTraits, which each class's traits struct
// satisfies (checked where the struct is defined, and by every shared method).
//
//   Engine            the C++ engine behind the Python object: bool worker_alive() const;
//                     bool send(Op), a blocking send that is false once the queue's receiver
//                     has gone; db_handle(), the store handle, of which a read's storage step
//                     holds a share while it runs
//   Op                its write operation, made by Op::insert(id, doc), Op::upsert(id, doc)
//                     and Op::remove(id)
//   kName             the class name, in argument errors and the process check's message
//   kIdReadParser     the parser of get, get_many and scan_prefix
//   log_written(engine, action, id)   called once a single-record write is queued
//   Constructor       the class's constructor (binding/class_builder.h)
//   CloseEngine, InsertMany, InsertManyJson, FilterByMetadata
//                     the class's own methods of those names, which differ between the
//                     classes (binding/method.h)
//   OwnMethods        the methods of this class alone, after the shared ones
//                     (a binding::MethodList)
//   Getters           its read-only properties (a binding::MethodList)
#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "binding/class_builder.h"
#include "binding/method.h"
#include "document/doc_bytes.h"
#include "document/python/decoder.h"

namespace quorvane::store {
class Store;
}  // namespace quorvane::store

namespace quorvane::methods {

// Which write a single-record method queued, for the classes that keep an activity log.
enum class WriteAction : uint8_t { Insert, Upsert, Delete };

template <class T>
struct IsMethodList : std::false_type {};
template <class... Methods>
struct IsMethodList<binding::MethodList<Methods...>> : std::true_type {};

template <class Op>
concept WriteOperation = requires(std::string id, document::DocBytes doc) {
  { Op::insert(std::move(id), std::move(doc)) } -> std::same_as<Op>;
  { Op::upsert(std::move(id), std::move(doc)) } -> std::same_as<Op>;
  { Op::remove(std::move(id)) } -> std::same_as<Op>;
};

template <class Engine, class Op>
concept WritingEngine = requires(Engine& engine, const Engine& held, Op op) {
  { held.worker_alive() } -> std::same_as<bool>;
  { engine.send(std::move(op)) } -> std::same_as<bool>;
  { held.db_handle() } -> std::convertible_to<std::shared_ptr<store::Store>>;
};

// The methods each class defines for itself.
template <class C>
concept OwnMethodsOf = binding::ConstructorOf<typename C::Constructor, C> &&
    binding::MethodOf<typename C::CloseEngine, C> && binding::MethodOf<typename C::InsertMany, C> &&
    binding::MethodOf<typename C::InsertManyJson, C> &&
    binding::MethodOf<typename C::FilterByMetadata, C> &&
    IsMethodList<typename C::OwnMethods>::value && IsMethodList<typename C::Getters>::value;

template <class C>
concept ClassTraits = binding::PythonClass<C> && WriteOperation<typename C::Op> &&
    WritingEngine<typename C::Engine, typename C::Op> && OwnMethodsOf<C> &&
    requires(typename C::Engine& engine, WriteAction action, std::string_view id) {
  { C::kIdReadParser } -> std::convertible_to<document::python::Parser>;
  { C::log_written(engine, action, id) } -> std::same_as<void>;
};

}  // namespace quorvane::methods
