// Methods described once. A method description is a struct with
//
//   static constexpr const char* kName;                        the name Python sees
//   static constexpr std::array<const char*, N> kParameters;   its parameters, in order
//   static constexpr size_t kRequired;    how many must be given (optional: all by default)
//   static constexpr Borrow kBorrow;      the borrow of the instance its body runs under
//   static PyObject* call(Instance<Engine>& self, const Arguments<N>& args);   the body
//
// and everything the interpreter needs is made from it: the row of the class's method table
// (name, entry point, calling convention, and the text signature, text_signature.h) and the
// entry point, which runs the steps every method of either class begins with, in this order,
// inside guarded() (errors.h):
//   1. the instance belongs to this process (process_owner.h), else RuntimeError;
//   2. the arguments match the parameters (args.h), else TypeError;
//   3. the borrow is taken (borrow.h), else RuntimeError; it is held until the body returns.
// The body then converts its arguments in parameter order and does its work.
//
// A method without parameters is METH_NOARGS, so that the interpreter itself refuses any
// argument (before step 1), as it does for every method of that kind; the others take the
// fast-call form with keywords. A getter (a read-only property) is described as a method
// without parameters and runs the same steps.
//
// `Class` stands for what the binding layer knows of a class (PythonClass): its name, which
// the argument errors and the process check name, and its engine, which the instance holds.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>

#include "binding/args.h"
#include "binding/borrow.h"
#include "binding/errors.h"
#include "binding/instance.h"
#include "binding/process_owner.h"
#include "binding/python.h"
#include "binding/text_signature.h"

namespace quorvane::binding {

enum class Borrow : uint8_t { None, Shared, Exclusive };

// A call's arguments, one borrowed reference per parameter (null for an omitted optional one).
template <size_t N>
using Arguments = std::array<PyObject*, N>;

template <class C>
concept PythonClass = requires {
  { C::kName } -> std::convertible_to<const char*>;
  typename C::Engine;
};

template <PythonClass Class>
using ObjectOf = Instance<typename Class::Engine>;

template <class M>
using ArgumentsOf = Arguments<M::kParameters.size()>;

template <class M, class Class>
concept MethodOf = PythonClass<Class> &&
    requires(ObjectOf<Class>& self, const ArgumentsOf<M>& args) {
  { M::kName } -> std::convertible_to<const char*>;
  { M::kBorrow } -> std::convertible_to<Borrow>;
  { M::call(self, args) } -> std::same_as<PyObject*>;
};

// An ordered list of method descriptions: a class's method table, or its getters.
template <class... Methods>
struct MethodList {};

template <class M>
constexpr size_t required_of() {
  if constexpr (requires { M::kRequired; }) {
    return M::kRequired;
  } else {
    return M::kParameters.size();
  }
}

// What argument matching needs of method M of Class.
template <PythonClass Class, class M>
inline constexpr Signature kSignature{M::kName, Class::kName, M::kParameters, required_of<M>()};

namespace detail {

template <Borrow B>
struct BorrowGuard;
template <>
struct BorrowGuard<Borrow::Shared> {
  using type = SharedBorrow;
};
template <>
struct BorrowGuard<Borrow::Exclusive> {
  using type = ExclusiveBorrow;
};

// The entry steps, `match(PyObject** out)` being step 2.
template <PythonClass Class, MethodOf<Class> M, class Match>
PyObject* enter(PyObject* self, Match&& match) {
  return guarded<PyObject*>([&]() -> PyObject* {
    ObjectOf<Class>& object = instance_of<typename Class::Engine>(self);
    if (!owned_here(object.owner, Class::kName)) return nullptr;
    ArgumentsOf<M> args;
    if (!match(args.data())) return nullptr;
    if constexpr (M::kBorrow == Borrow::None) {
      return M::call(object, args);
    } else {
      typename BorrowGuard<M::kBorrow>::type borrow(object.borrow);
      if (!borrow.ok()) return nullptr;
      return M::call(object, args);
    }
  });
}

template <PythonClass Class, MethodOf<Class> M>
PyObject* fastcall_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  return enter<Class, M>(self, [&](PyObject** out) {
    return match_arguments(kSignature<Class, M>, args, nargs, kwnames, out);
  });
}

template <PythonClass Class, MethodOf<Class> M>
PyObject* noargs_entry(PyObject* self, PyObject* /*unused*/) {
  return enter<Class, M>(self, [](PyObject** /*out*/) { return true; });
}

template <PythonClass Class, MethodOf<Class> M>
PyObject* getter_entry(PyObject* self, void* /*closure*/) {
  return enter<Class, M>(self, [](PyObject** /*out*/) { return true; });
}

template <class Function>
PyCFunction as_method_pointer(Function* function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

template <PythonClass Class, MethodOf<Class> M>
PyMethodDef method_row() {
  if constexpr (M::kParameters.empty()) {
    return {M::kName, &noargs_entry<Class, M>, METH_NOARGS, kMethodDoc<M>};
  } else {
    return {M::kName, as_method_pointer(&fastcall_entry<Class, M>), METH_FASTCALL | METH_KEYWORDS,
            kMethodDoc<M>};
  }
}

template <PythonClass Class, MethodOf<Class> G>
requires(G::kParameters.empty()) PyGetSetDef getter_row() {
  return {G::kName, &getter_entry<Class, G>, nullptr, nullptr, nullptr};
}

}  // namespace detail

// The method table of Class (kept for the life of the process), in the order of `Methods`.
template <PythonClass Class, class... Methods>
PyMethodDef* method_table(MethodList<Methods...> /*methods*/) {
  static PyMethodDef table[] = {detail::method_row<Class, Methods>()...,
                                {nullptr, nullptr, 0, nullptr}};
  return table;
}

// The getter table of Class (kept for the life of the process), in the order of `Getters`.
template <PythonClass Class, class... Getters>
PyGetSetDef* getter_table(MethodList<Getters...> /*getters*/) {
  static PyGetSetDef table[] = {detail::getter_row<Class, Getters>()...,
                                {nullptr, nullptr, nullptr, nullptr, nullptr}};
  return table;
}

}  // namespace quorvane::binding
