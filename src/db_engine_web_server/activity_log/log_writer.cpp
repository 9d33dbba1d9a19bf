#include "db_engine_web_server/activity_log/log_writer.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <stdexcept>
#include <string_view>

#include "db_engine_web_server/activity_log/activity_log_format.h"
#include "db_engine_web_server/local_time.h"
#include "db_engine_web_server/log_file_guard.h"
#include "document/string_escape.h"
#include "util/buffered_writer.h"
#include "util/file.h"
#include "util/format.h"
#include "util/worker_exit.h"

namespace quorvane::db_engine_web_server::activity_log {

namespace {

constexpr size_t kActivityLogBuffer = 8192;

class LineWriter {
 public:
  LineWriter(BufferedFileWriter& file, const std::string& path) : file_(file), path_(path) {}

  // Writes one line as its pieces: the fixed texts and the three values.
  void write(std::string_view timestamp, std::string_view action, std::string_view id) {
    quoted_id_.clear();
    document::append_json_string(quoted_id_, id);
    put("{\"timestamp\": \"");
    put(timestamp);
    put("\", \"action\": \"");
    put(action);
    put("\", \"id\": ");
    put(quoted_id_);
    put("}\n");
  }

  void finish() { check(file_.flush()); }

 private:
  void put(std::string_view piece) { check(file_.write(piece)); }

  void check(const Status& s) {
    if (!s) {
      throw std::runtime_error(
          format_message("cannot write the activity log {}: {}", {path_, s.error()}));
    }
  }

  BufferedFileWriter& file_;
  const std::string& path_;
  std::string quoted_id_;
};

}  // namespace

void log_writer(channel::Receiver<LogOp> queue, const std::string& path,
                std::shared_ptr<std::atomic<bool>> worker_alive) {
  // The file is written out and closed first; the writer has nothing more of its own to let
  // go of after the flag.
  const WorkerExit exit_rule(std::move(worker_alive), [] {});
  const std::string open_failure = format_message("cannot open the activity log {}: ", {path});
  // Appended to, never truncated; created with 0666 less the umask. Opened without waiting and
  // only kept when it is a regular file: a pipe in its place would block the open (or later
  // writes) for ever, and close_engine with them. Opened for reading too, so that the guard
  // can read the file's header; a file that may be written but not read is opened
  // write-only, as before.
  const int flags = O_APPEND | O_CREAT | O_NONBLOCK;
  int open_errno = 0;
  Result<UniqueFd> fd = open_file(path, O_RDWR | flags, &open_errno);
  if (!fd && open_errno == EACCES) fd = open_file(path, O_WRONLY | flags);
  if (!fd) throw std::runtime_error(open_failure + fd.error());
  struct stat st {};
  if (::fstat(fd->get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      ::fcntl(fd->get(), F_SETFL, O_APPEND) != 0) {
    throw std::runtime_error(open_failure + "not a regular file");
  }
  // Held until the writer ends; `file` is released first.
  Result<ClaimedLog> log = claim_log(std::move(fd).value(), path, LogKind::Activity, open_failure);
  if (!log) throw std::runtime_error(log.error());
  BufferedFileWriter file(std::move(log->file), kActivityLogBuffer);
  LineWriter lines(file, path);
  while (std::optional<LogOp> op = queue.recv()) {
    if (op->kind == LogOp::Kind::Shutdown) break;
    if (op->ids.empty()) continue;
    const LocalTime now = local_time_now();
    const std::string timestamp = format_log_timestamp(now.fields, now.nanoseconds);
    const std::string_view action = op->action ? op->action : "";
    for (const std::string& id : op->ids) lines.write(timestamp, action, id);
  }
  lines.finish();
}

}  // namespace quorvane::db_engine_web_server::activity_log
