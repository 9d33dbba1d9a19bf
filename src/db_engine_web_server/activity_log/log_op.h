// The entries of the activity log queue. An action is one of three fixed texts, referred to,
// not copied.
#pragma once

#include <string>
#include <vector>

namespace quorvane::db_engine_web_server::activity_log {

inline constexpr const char* kInsertAction = "INSERT";
inline constexpr const char* kUpsertAction = "UPSERT";
inline constexpr const char* kDeleteAction = "DELETE";

struct LogOp {
  enum class Kind { Single, Batch, Shutdown };

  Kind kind = Kind::Shutdown;
  const char* action = nullptr;
  std::vector<std::string> ids;  // one id for Single

  static LogOp single(const char* action, std::string id) {
    LogOp op{Kind::Single, action, {}};
    op.ids.push_back(std::move(id));
    return op;
  }
  static LogOp batch(const char* action, std::vector<std::string> ids) {
    return {Kind::Batch, action, std::move(ids)};
  }
  static LogOp shutdown() { return {Kind::Shutdown, nullptr, {}}; }
};

}  // namespace quorvane::db_engine_web_server::activity_log
