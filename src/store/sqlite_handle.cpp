#include "store/sqlite_handle.h"

namespace quorvane::store {

namespace {

// Process-wide settings of the SQLite library, made once before the first connection opens.
// Memory statistics would make every allocation of every connection take one global mutex,
// on which concurrent reads queue; nothing here reads them. The setting can only be made
// before the library is initialised: when something else in the process (Python's sqlite3
// module, say) has already used the library, it is refused and the library stays as it was.
void configure_library_once() {
  static const bool configured = [] {
    (void)sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    return true;
  }();
  (void)configured;
}

}  // namespace

Result<Statement> Statement::prepare(sqlite3* db, std::string_view sql) {
  Statement s;
  const int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                                    SQLITE_PREPARE_PERSISTENT, &s.stmt_, nullptr);
  if (rc != SQLITE_OK) return Err{sqlite3_errmsg(db)};
  return s;
}

Status prepare_once(Connection& connection, Statement& statement, std::string_view sql) {
  if (statement) return Status::Ok();
  Result<Statement> prepared = Statement::prepare(connection.get(), sql);
  if (!prepared) return std::move(prepared).take_error();
  statement = std::move(prepared).value();
  return Status::Ok();
}

Result<Connection> Connection::open(const std::string& path) {
  configure_library_once();
  sqlite3* db = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, "unix-excl");
  if (rc != SQLITE_OK) {
    std::string text = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    return Err{std::move(text)};
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, 5000);
  return Connection(db);
}

Status Connection::exec(const char* sql) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
  if (rc == SQLITE_OK) return Status::Ok();
  std::string text = message ? message : sqlite3_errmsg(db_);
  sqlite3_free(message);
  return Err{std::move(text)};
}

}  // namespace quorvane::store
