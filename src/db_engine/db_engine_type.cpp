// The DBEngine class object, its constructor and close_engine. An instance belongs to the
// process that constructed it; every method checks that first (binding/method.h).
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "binding/args.h"
#include "binding/errors.h"
#include "db_engine/db_engine_class.h"
#include "methods/class_methods.h"

namespace quorvane::db_engine {

std::optional<DBEngine> DBEngineClass::Constructor::call(const binding::Arguments<1>& args) {
  std::string_view path;
  if (!binding::extract_str(args[0], "path", path)) return std::nullopt;
  Result<DBEngine> engine = DBEngine::open(std::string(path));
  if (!engine) {
    binding::raise_runtime_error(engine.error());
    return std::nullopt;
  }
  return std::move(engine).value();
}

PyObject* DBEngineClass::CloseEngine::call(DBEngineObject& self,
                                           const binding::Arguments<0>& /*args*/) {
  if (Status s = self.engine.close_engine(); !s) {
    binding::raise_runtime_error(s.error());
    return nullptr;
  }
  Py_RETURN_NONE;
}

PyObject* db_engine_type() { return methods::class_object<DBEngineClass>(); }

}  // namespace quorvane::db_engine
