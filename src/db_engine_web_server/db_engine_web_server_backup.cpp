// DBEngineWebServer.trigger_backup: posts a backup request on the write queue, after every
// write queued before it. The database writer starts a backup worker once the batch that holds
// the request is committed; the worker reports on standard output and standard error only.
// The path is not examined here, and nothing is logged.
#include <string>
#include <string_view>

#include "binding/args.h"
#include "db_engine_web_server/db_engine_web_server_class.h"
#include "db_engine_web_server/write_op.h"
#include "methods/write_steps.h"

namespace quorvane::db_engine_web_server {

PyObject* WebServerClass::TriggerBackup::call(DBEngineWebServerObject& self,
                                              const binding::Arguments<1>& args) {
  std::string_view target_path;
  if (!binding::extract_str(args[0], "target_path", target_path)) return nullptr;
  if (!methods::worker_running(self.engine.worker_alive())) return nullptr;
  // A blocking send with the GIL held: waits while the write queue is full.
  if (!self.engine.send(WriteOp::backup(std::string(target_path)))) {
    methods::raise_send_failure(methods::kSendFailedPattern);
    return nullptr;
  }
  Py_RETURN_NONE;
}

}  // namespace quorvane::db_engine_web_server
