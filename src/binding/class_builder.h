// Creating a class object from a PyType_Spec, as both classes are built: a heap type
// whose __module__ is "builtins" (no module is named for the class).
#pragma once

#include "binding/python.h"

namespace quorvane::py {

// `spec->name` is "builtins.<Name>". A new reference, or null with an exception set.
PyObject* create_class(PyType_Spec* spec);

}  // namespace quorvane::py
