// DBEngineWebServer.trigger_backup: posts a backup request on the write queue, after every
// write queued before it. The database writer starts a backup worker once the batch that holds
// the request is committed; the worker reports on standard output and standard error only.
// The path is not examined here, and nothing is logged.
#include <string>
#include <string_view>

#include "binding/args.h"
#include "binding/borrow.h"
#include "binding/errors.h"
#include "binding/process_owner.h"
#include "db_engine_web_server/db_engine_web_server_methods.h"
#include "db_engine_web_server/db_engine_web_server_object.h"
#include "db_engine_web_server/write_op.h"
#include "methods/write_steps.h"

namespace quorvane::web_server {

PyObject* server_trigger_backup(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return py::guarded<PyObject*>([&]() -> PyObject* {
    if (!py::owned_here(WebServerMethods::owner(self))) return nullptr;
    static const py::Signature sig{"trigger_backup", WebServerMethods::kName, {"target_path"}, 1};
    PyObject* argv[1];
    if (!py::match_arguments(sig, args, nargs, kwnames, argv)) return nullptr;
    py::SharedBorrow borrow(as_server(self)->borrow);
    if (!borrow.ok()) return nullptr;
    std::string_view target_path;
    if (!py::extract_str(argv[0], "target_path", target_path)) return nullptr;
    DBEngineWebServer& server = as_server(self)->server;
    if (!methods::worker_running(server.worker_alive())) return nullptr;
    // A blocking send with the GIL held: waits while the write queue is full.
    if (!server.send(WriteOp::backup(std::string(target_path)))) {
      methods::raise_send_failure(methods::kSendFailedPattern);
      return nullptr;
    }
    Py_RETURN_NONE;
  });
}

}  // namespace quorvane::web_server
