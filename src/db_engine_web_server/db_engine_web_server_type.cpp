// The DBEngineWebServer class object, its constructor, and the members that shut it down and
// report on it (close_engine, __enter__, __exit__, queue_size). An instance belongs to the
// process that constructed it; every method and the property check that first
// (binding/method.h).
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "binding/args.h"
#include "binding/errors.h"
#include "db_engine_web_server/db_engine_web_server_class.h"
#include "methods/class_methods.h"

namespace quorvane::db_engine_web_server {

namespace {

std::optional<std::string> owned(const std::optional<std::string_view>& text) {
  if (!text) return std::nullopt;
  return std::string(*text);
}

}  // namespace

std::optional<DBEngineWebServer> WebServerClass::Constructor::call(
    const binding::Arguments<4>& args) {
  std::string_view path;
  std::optional<std::string_view> backup_time;
  std::optional<std::string_view> backup_dir;
  bool enable_logging = false;
  if (!binding::extract_str(args[0], "path", path)) return std::nullopt;
  if (!binding::extract_optional_str(args[1], "backup_time", backup_time)) return std::nullopt;
  if (!binding::extract_optional_str(args[2], "backup_dir", backup_dir)) return std::nullopt;
  if (args[3] && !binding::extract_bool(args[3], "enable_logging", enable_logging)) {
    return std::nullopt;
  }

  Result<DBEngineWebServer> server = DBEngineWebServer::open(std::string(path), owned(backup_time),
                                                             owned(backup_dir), enable_logging);
  if (!server) {
    binding::raise_runtime_error(server.error());
    return std::nullopt;
  }
  return std::move(server).value();
}

PyObject* WebServerClass::CloseEngine::call(DBEngineWebServerObject& self,
                                            const binding::Arguments<0>& /*args*/) {
  self.engine.close_engine();
  Py_RETURN_NONE;
}

PyObject* WebServerClass::Enter::call(DBEngineWebServerObject& self,
                                      const binding::Arguments<0>& /*args*/) {
  Py_INCREF(self.object());
  return self.object();
}

PyObject* WebServerClass::Exit::call(DBEngineWebServerObject& self,
                                     const binding::Arguments<3>& /*args*/) {
  self.engine.close_engine();
  Py_RETURN_FALSE;
}

PyObject* WebServerClass::QueueSize::call(DBEngineWebServerObject& self,
                                          const binding::Arguments<0>& /*args*/) {
  return PyLong_FromSize_t(self.engine.queue_size());
}

PyObject* db_engine_web_server_type() { return methods::class_object<WebServerClass>(); }

}  // namespace quorvane::db_engine_web_server
