#include "module/exit_hook.h"

#include "binding/errors.h"
#include "binding/py_ref.h"
#include "lifecycle/exit_commit.h"

namespace quorvane::module {

namespace {

PyObject* commit_writes(PyObject* /*self*/, PyObject* /*unused*/) {
  return binding::guarded<PyObject*>([]() -> PyObject* {
    lifecycle::commit_writes_at_exit();
    Py_RETURN_NONE;
  });
}

PyMethodDef commit_writes_def = {"_commit_quorvane_writes", commit_writes, METH_NOARGS, nullptr};

void commit_writes_after_finalization() { lifecycle::commit_writes_at_exit(); }

bool hooked = false;

}  // namespace

bool hook_exit_commit() {
  if (hooked) return true;
  binding::PyRef atexit = binding::PyRef::steal(PyImport_ImportModule("atexit"));
  if (!atexit) return false;
  binding::PyRef function =
      binding::PyRef::steal(PyCFunction_NewEx(&commit_writes_def, nullptr, nullptr));
  if (!function) return false;
  binding::PyRef registered =
      binding::PyRef::steal(PyObject_CallMethod(atexit.get(), "register", "O", function.get()));
  if (!registered) return false;
  (void)Py_AtExit(commit_writes_after_finalization);
  hooked = true;
  return true;
}

}  // namespace quorvane::module
