// The method table of both classes, and each class object made from it. The order of the
// table is observable (dir() and the class's __dict__ follow it): close_engine, the writes
// and reads both classes offer, filter_by_metadata, then the methods of the class alone.
//
// A method both classes share is described once, beside its siblings (single_writes.h,
// read_steps.h), and added to this table; nothing else changes.
#pragma once

#include "binding/class_builder.h"
#include "binding/method.h"
#include "binding/python.h"
#include "methods/class_traits.h"
#include "methods/read_steps.h"
#include "methods/single_writes.h"

namespace quorvane::methods {

template <ClassTraits Class, class... Own>
constexpr auto method_list(binding::MethodList<Own...> /*own*/) {
  return binding::MethodList<typename Class::CloseEngine, Insert<Class>, InsertJson<Class>,
                             typename Class::InsertMany, typename Class::InsertManyJson, Get<Class>,
                             GetMany<Class>, Delete<Class>, ScanPrefix<Class>, Upsert<Class>,
                             typename Class::FilterByMetadata, Own...>{};
}

// The class object of Class (see binding/class_builder.h).
template <ClassTraits Class>
PyObject* class_object() {
  return binding::class_object<Class>(method_list<Class>(typename Class::OwnMethods{}),
                                      typename Class::Getters{});
}

}  // namespace quorvane::methods
