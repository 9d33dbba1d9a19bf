// Creating the class object of either class, as both are built: a heap type whose __module__
// is "builtins" (no module is named for the class), not subclassable, without __dict__ or weak
// references, whose instances are Instance<Engine> (instance.h).
//
// class_object<Class>(methods, getters) builds it from the class's description: Class::kName,
// Class::Engine, the constructor Class::Constructor, and the method and getter lists (method.h).
// A constructor description is a method description named "__new__" whose body
//
//   static std::optional<Engine> call(const Arguments<N>& args);
//
// converts the arguments and opens the engine, or sets an exception and returns nothing; its
// optional parameters have the texts of their defaults in kDefaults, for the class docstring
// (text_signature.h). The constructor matches its arguments in the (tuple, dict) form and has
// no instance to check or borrow yet.
#pragma once

#include <concepts>
#include <optional>
#include <utility>

#include "binding/args.h"
#include "binding/errors.h"
#include "binding/instance.h"
#include "binding/method.h"
#include "binding/python.h"
#include "binding/text_signature.h"

namespace quorvane::binding {

// `spec->name` is "builtins.<Name>". A new reference, or null with an exception set.
PyObject* create_class(PyType_Spec* spec);

template <class C, class Class>
concept ConstructorOf = PythonClass<Class> && requires(const ArgumentsOf<C>& args) {
  { C::kName } -> std::convertible_to<const char*>;
  { C::call(args) } -> std::same_as<std::optional<typename Class::Engine>>;
};

namespace detail {

template <PythonClass Class>
requires ConstructorOf<typename Class::Constructor, Class> PyObject* new_instance(
    PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  using Constructor = typename Class::Constructor;
  return guarded<PyObject*>([&]() -> PyObject* {
    ArgumentsOf<Constructor> argv;
    if (!match_arguments_tuple(kSignature<Class, Constructor>, args, kwargs, argv.data())) {
      return nullptr;
    }
    std::optional<typename Class::Engine> engine = Constructor::call(argv);
    if (!engine) return nullptr;
    // When the allocation fails, the engine is released on return: its threads drain and end.
    return create_instance<typename Class::Engine>(type, std::move(*engine));
  });
}

template <class Class>
struct SpecName {
  static constexpr void write(TextOut& text) {
    text.put("builtins.");
    text.put(Class::kName);
  }
};

}  // namespace detail

// The class object of Class, created on first use and kept for the life of the process; a
// borrowed reference, or null with an exception set (a later call tries again).
template <PythonClass Class, class Methods, class Getters>
PyObject* class_object(Methods methods, Getters getters) {
  static PyObject* type = nullptr;
  if (type) return type;
  static PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(&detail::new_instance<Class>)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_instance<typename Class::Engine>)},
      {Py_tp_methods, method_table<Class>(methods)},
      {Py_tp_getset, getter_table<Class>(getters)},
      {Py_tp_doc, const_cast<char*>(kClassDoc<Class>)},
      {0, nullptr},
  };
  static PyType_Spec spec{detail::kWrittenText<detail::SpecName<Class>>.data(),
                          sizeof(ObjectOf<Class>), 0, Py_TPFLAGS_DEFAULT, slots};
  type = create_class(&spec);
  return type;
}

}  // namespace quorvane::binding
