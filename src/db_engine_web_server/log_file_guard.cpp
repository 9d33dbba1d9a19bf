#include "db_engine_web_server/log_file_guard.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "util/format.h"

namespace quorvane::db_engine_web_server {

namespace {

// The first 16 bytes of every SQLite database file. A WAL frame begins with its op byte (1 to
// 3) and an activity log line with "{", so no log of ours is taken for a database.
constexpr std::string_view kDatabaseHeader{"SQLite format 3\0", 16};

constexpr const char* kIsDatabase = "it is a database file";
constexpr const char* kIsHeld = "it is held by a database or another log";

Err refusal(const std::string& path, LogKind kind, const char* reason) {
  const char* name = kind == LogKind::WriteAhead ? "write-ahead log" : "activity log";
  return Err{format_message("Refusing to use {} as the {}: {}", {path, name, reason})};
}

bool begins_with_database_header(int fd) {
  char head[kDatabaseHeader.size()];
  const ssize_t n = ::pread(fd, head, sizeof head, 0);
  return n == static_cast<ssize_t>(sizeof head) &&
         std::string_view(head, sizeof head) == kDatabaseHeader;
}

}  // namespace

Status check_log_path(const std::string& path, LogKind kind) {
  const store::FileLook look = store::look_at_file(path, kDatabaseHeader.size());
  if (look.holder != store::FileHolder::Nobody) return refusal(path, kind, kIsHeld);
  if (look.head == kDatabaseHeader) return refusal(path, kind, kIsDatabase);
  return Status::Ok();
}

Result<ClaimedLog> claim_log(UniqueFd file, const std::string& path, LogKind kind,
                             std::string_view open_error_prefix) {
  Result<store::FileLock> claim = store::FileLock::claim(std::move(file));
  if (!claim) {
    if (claim.error() == store::kAlreadyOpenText) return refusal(path, kind, kIsHeld);
    return Err{std::string(open_error_prefix) + claim.error()};
  }
  if (begins_with_database_header(claim->fd())) return refusal(path, kind, kIsDatabase);
  UniqueFd copy(::fcntl(claim->fd(), F_DUPFD_CLOEXEC, 0));
  if (!copy) return Err{std::string(open_error_prefix) + system_error_text(errno)};
  return ClaimedLog{std::move(claim).value(), std::move(copy)};
}

}  // namespace quorvane::db_engine_web_server
