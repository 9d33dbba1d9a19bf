// RAII over SQLite: a Connection owns one sqlite3 handle, a Statement one prepared statement.
// Every text is bound with its explicit length, since a document id may hold U+0000.
//
// Private to the store layer (src/store/): nothing outside it sees SQLite.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "util/result.h"

namespace quorvane::store {

class Statement {
 public:
  Statement() = default;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement(Statement&& other) noexcept : stmt_(std::exchange(other.stmt_, nullptr)) {}
  Statement& operator=(Statement&& other) noexcept {
    if (this != &other) {
      sqlite3_finalize(stmt_);
      stmt_ = std::exchange(other.stmt_, nullptr);
    }
    return *this;
  }
  ~Statement() { sqlite3_finalize(stmt_); }

  static Result<Statement> prepare(sqlite3* db, std::string_view sql);

  explicit operator bool() const { return stmt_ != nullptr; }
  sqlite3_stmt* get() const { return stmt_; }
  // The message of the last failure on the statement's connection.
  std::string error_text() const { return sqlite3_errmsg(sqlite3_db_handle(stmt_)); }

  // The bound values must outlive the statement's next reset().
  void bind_text(int index, std::string_view text) {
    // The 64-bit length: a text longer than the store's limit is bound as NULL (and so matches
    // nothing) instead of being cut to a wrapped length.
    sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
  }
  void bind_blob(int index, std::string_view bytes) {
    // A zero-length blob must still be a blob, not NULL: give SQLite a valid pointer.
    sqlite3_bind_blob64(stmt_, index, bytes.empty() ? "" : bytes.data(), bytes.size(),
                        SQLITE_STATIC);
  }
  void bind_int64(int index, int64_t value) { sqlite3_bind_int64(stmt_, index, value); }

  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step() { return sqlite3_step(stmt_); }
  void reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }

  std::string_view column_text(int column) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    const int n = sqlite3_column_bytes(stmt_, column);
    return p ? std::string_view(p, static_cast<size_t>(n)) : std::string_view();
  }
  std::string_view column_blob(int column) const {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
    const int n = sqlite3_column_bytes(stmt_, column);
    return p ? std::string_view(p, static_cast<size_t>(n)) : std::string_view();
  }
  bool column_is_null(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Resets a statement when it goes out of scope, so its bindings never outlive a call.
class StatementUse {
 public:
  explicit StatementUse(Statement& s) : s_(s) {}
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;
  ~StatementUse() { s_.reset(); }
  Statement* operator->() { return &s_; }

 private:
  Statement& s_;
};

class Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  Connection(Connection&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {}
  Connection& operator=(Connection&& other) noexcept {
    if (this != &other) {
      sqlite3_close_v2(db_);
      db_ = std::exchange(other.db_, nullptr);
    }
    return *this;
  }
  ~Connection() { sqlite3_close_v2(db_); }

  // Opens the database at `path` (which must exist) for reading and writing, for use by one
  // thread at a time.
  static Result<Connection> open(const std::string& path);

  sqlite3* get() const { return db_; }
  std::string error_text() const { return sqlite3_errmsg(db_); }
  // Runs SQL that returns no rows the caller needs.
  Status exec(const char* sql);

 private:
  explicit Connection(sqlite3* db) : db_(db) {}
  sqlite3* db_ = nullptr;
};

// Prepares `statement` from `sql` on `connection` unless it is prepared already: statements are
// kept for the connection's life and prepared on their first use.
Status prepare_once(Connection& connection, Statement& statement, std::string_view sql);

}  // namespace quorvane::store
