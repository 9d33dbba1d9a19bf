// A step that runs one statement reads one snapshot by itself (SQLite's implicit read
// transaction); read_documents, which runs its statement once per id, opens an explicit one.
#include "store/reads.h"

#include <limits>
#include <utility>

#include "store/read_snapshot.h"
#include "store/store_internals.h"

namespace quorvane::store {

namespace {

constexpr std::string_view kSelectDocument = "SELECT doc FROM documents WHERE id = ?1";
constexpr std::string_view kScanFrom = "SELECT id, doc FROM documents WHERE id >= ?1 ORDER BY id";
// CROSS JOIN keeps the index as the outer loop, so rows come in the index's id order.
constexpr std::string_view kIndexMatches =
    "SELECT m.id, d.doc FROM metadata_index AS m CROSS JOIN documents AS d ON d.id = m.id "
    "WHERE m.key = ?1 ORDER BY m.id";
// The window starts at the id found by passing over `offset` entries of the index alone (no
// document is fetched for them), then runs in index order for at most `limit` entries; an
// entry of the window without a document comes back with a NULL doc. Ids under one key are
// unique, so "from that id on" is exactly the window.
constexpr std::string_view kIndexPage =
    "SELECT m.id, d.doc FROM metadata_index AS m LEFT JOIN documents AS d ON d.id = m.id "
    "WHERE m.key = ?1 AND m.id >= "
    "(SELECT id FROM metadata_index WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?3) "
    "ORDER BY m.id LIMIT ?2";

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

int64_t clamp_count(uint64_t count) {
  constexpr auto kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  return static_cast<int64_t>(count > kMax ? kMax : count);
}

// Runs `run(reader, statement)` on a read connection leased for the calling thread, with its
// statement `slot` prepared from `sql` on the connection's first use of it: what every read
// step starts with. A lease or preparation that fails gives the store's message. The statement
// and the connection are for `run` alone; the connection goes back to the pool after it.
template <class Run>
auto with_read_statement(Store& store, Statement ReaderConnection::*slot, std::string_view sql,
                         Run&& run)
    -> decltype(run(std::declval<ReaderConnection&>(), std::declval<Statement&>())) {
  Result<ReadLease> lease = lease_reader(store);
  if (!lease) return std::move(lease).take_error();
  ReaderConnection& reader = *lease.value();
  Statement& statement = reader.*slot;
  if (Status s = prepare_once(reader.connection, statement, sql); !s) {
    return std::move(s).take_error();
  }
  return run(reader, statement);
}

// The stored document of `id`, read with a read connection's select statement, or nothing
// when none is stored; a failing step gives the store's message.
Result<std::optional<document::DocBytes>> look_up(Statement& select, std::string_view id) {
  StatementUse use(select);
  use->bind_text(1, id);
  const int rc = use->step();
  if (rc == SQLITE_ROW)
    return std::optional<document::DocBytes>(document::DocBytes::copy_of(select.column_blob(0)));
  if (rc == SQLITE_DONE) return std::optional<document::DocBytes>();
  return Err{select.error_text()};
}

// One entry per id, in order, the ids moved into it; several lookups share one snapshot (one
// reads one by itself).
Result<std::vector<OptionalDocumentEntry>> look_up_each(ReaderConnection& reader, Statement& select,
                                                        std::vector<std::string>& ids) {
  const bool shared_snapshot = ids.size() > 1;
  ReadSnapshot snapshot(reader);
  if (shared_snapshot) {
    if (Status s = snapshot.begin(); !s) return std::move(s).take_error();
  }
  std::vector<OptionalDocumentEntry> out;
  out.reserve(ids.size());
  for (std::string& id : ids) {
    Result<std::optional<document::DocBytes>> doc = look_up(select, id);
    if (!doc) return std::move(doc).take_error();
    out.emplace_back(std::move(id), std::move(doc).value());
  }
  if (shared_snapshot) {
    if (Status s = snapshot.end(); !s) return std::move(s).take_error();
  }
  return out;
}

// What a list step does with a row of (id, document): takes it, passes over it, or stops
// before it.
enum class Row { Take, Skip, Stop };

// Steps the bound `statement` through its rows, judging each with `judge(row)`, and gives
// (id, document) for every row taken, in order; a failing step gives the store's message.
template <class Judge>
Result<std::vector<DocumentEntry>> collect_entries(Statement& statement, Judge&& judge) {
  std::vector<DocumentEntry> out;
  for (;;) {
    const int rc = statement.step();
    if (rc == SQLITE_DONE) return out;
    if (rc != SQLITE_ROW) return Err{statement.error_text()};
    const Row choice = judge(statement);
    if (choice == Row::Stop) return out;
    if (choice == Row::Take) {
      out.emplace_back(std::string(statement.column_text(0)),
                       document::DocBytes::copy_of(statement.column_blob(1)));
    }
  }
}

}  // namespace

Result<std::optional<document::DocBytes>> read_document(Store& store, std::string_view id) {
  return with_read_statement(
      store, &ReaderConnection::get_doc, kSelectDocument,
      [&](ReaderConnection&, Statement& select) { return look_up(select, id); });
}

Result<std::vector<OptionalDocumentEntry>> read_documents(Store& store,
                                                          std::vector<std::string> ids) {
  return with_read_statement(store, &ReaderConnection::get_doc, kSelectDocument,
                             [&](ReaderConnection& reader, Statement& select) {
                               return look_up_each(reader, select, ids);
                             });
}

Result<std::vector<DocumentEntry>> read_prefix(Store& store, std::string_view prefix) {
  return with_read_statement(
      store, &ReaderConnection::scan_from, kScanFrom, [&](ReaderConnection&, Statement& statement) {
        StatementUse scan(statement);
        scan->bind_text(1, prefix);
        // Every id with the prefix lies in one run from the prefix on.
        return collect_entries(statement, [&](const Statement& row) {
          return starts_with(row.column_text(0), prefix) ? Row::Take : Row::Stop;
        });
      });
}

Result<std::vector<DocumentEntry>> read_metadata_matches(Store& store, std::string_view key) {
  return with_read_statement(store, &ReaderConnection::index_matches, kIndexMatches,
                             [&](ReaderConnection&, Statement& statement) {
                               StatementUse matches(statement);
                               matches->bind_text(1, key);
                               return collect_entries(statement,
                                                      [](const Statement&) { return Row::Take; });
                             });
}

Result<std::vector<DocumentEntry>> read_metadata_page(Store& store, std::string_view key,
                                                      std::optional<uint64_t> limit,
                                                      std::optional<uint64_t> offset) {
  return with_read_statement(
      store, &ReaderConnection::index_page, kIndexPage,
      [&](ReaderConnection&, Statement& statement) {
        StatementUse page(statement);
        page->bind_text(1, key);
        page->bind_int64(2, limit ? clamp_count(*limit) : -1);  // a negative LIMIT has no bound
        page->bind_int64(3, offset ? clamp_count(*offset) : 0);
        return collect_entries(statement, [](const Statement& row) {
          // An entry that outlived its document uses up its place in the window.
          return row.column_is_null(1) ? Row::Skip : Row::Take;
        });
      });
}

}  // namespace quorvane::store
