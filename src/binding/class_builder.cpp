#include "binding/class_builder.h"

#include <cstring>

#include "binding/py_ref.h"

namespace quorvane::binding {

PyObject* create_class(PyType_Spec* spec) {
  // The spec is named "builtins.<Name>" so that the interpreter records the module itself;
  // setting __name__ afterwards gives the type the plain name that messages and reprs show.
  PyRef type = PyRef::steal(PyType_FromSpec(spec));
  if (!type) return nullptr;
  const char* dot = std::strrchr(spec->name, '.');
  PyRef name = PyRef::steal(PyUnicode_FromString(dot ? dot + 1 : spec->name));
  if (!name || PyObject_SetAttrString(type.get(), "__name__", name.get()) < 0) return nullptr;
  return type.release();
}

}  // namespace quorvane::binding
