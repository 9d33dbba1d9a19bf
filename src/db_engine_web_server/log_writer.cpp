#include "db_engine_web_server/log_writer.h"

namespace quorvane::web_server {

// Placeholder until the activity log lands: takes entries and writes nothing.
void log_writer(channel::Receiver<LogOp> queue, std::string path,
                std::shared_ptr<std::atomic<bool>> worker_alive) {
  (void)path;
  while (std::optional<LogOp> op = queue.recv()) {
    if (op->kind == LogOp::Kind::Shutdown) break;
  }
  worker_alive->store(false, std::memory_order_release);
}

}  // namespace quorvane::web_server
