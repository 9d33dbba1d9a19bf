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

}  // namespace

Result<std::optional<DocBytes>> read_document(Store& store, std::string_view id) {
  return with_read_statement(
      store, &ReaderConnection::get_doc, kSelectDocument,
      [&](ReaderConnection&, Statement& statement) -> Result<std::optional<DocBytes>> {
        StatementUse select(statement);
        select->bind_text(1, id);
        const int rc = select->step();
        if (rc == SQLITE_ROW) {
          return std::optional<DocBytes>(DocBytes::copy_of(select->column_blob(0)));
        }
        if (rc == SQLITE_DONE) return std::optional<DocBytes>();
        return Err{statement.error_text()};
      });
}

Result<std::vector<OptionalDocumentEntry>> read_documents(Store& store,
                                                          std::vector<std::string> ids) {
  return with_read_statement(
      store, &ReaderConnection::get_doc, kSelectDocument,
      [&](ReaderConnection& reader,
          Statement& statement) -> Result<std::vector<OptionalDocumentEntry>> {
        // One lookup reads one snapshot by itself; more share an explicit one.
        const bool shared_snapshot = ids.size() > 1;
        ReadSnapshot snapshot(reader);
        if (shared_snapshot) {
          if (Status s = snapshot.begin(); !s) return std::move(s).take_error();
        }
        std::vector<OptionalDocumentEntry> out;
        out.reserve(ids.size());
        for (std::string& id : ids) {
          std::optional<DocBytes> doc;
          {
            StatementUse select(statement);
            select->bind_text(1, id);
            const int rc = select->step();
            if (rc == SQLITE_ROW) {
              doc = DocBytes::copy_of(select->column_blob(0));
            } else if (rc != SQLITE_DONE) {
              return Err{statement.error_text()};
            }
          }
          out.emplace_back(std::move(id), std::move(doc));
        }
        if (shared_snapshot) {
          if (Status s = snapshot.end(); !s) return std::move(s).take_error();
        }
        return out;
      });
}

Result<std::vector<DocumentEntry>> read_prefix(Store& store, std::string_view prefix) {
  return with_read_statement(
      store, &ReaderConnection::scan_from, kScanFrom,
      [&](ReaderConnection&, Statement& statement) -> Result<std::vector<DocumentEntry>> {
        StatementUse scan(statement);
        scan->bind_text(1, prefix);
        std::vector<DocumentEntry> out;
        int rc;
        while ((rc = scan->step()) == SQLITE_ROW) {
          const std::string_view id = scan->column_text(0);
          // Every id with the prefix lies in one run from the prefix on.
          if (!starts_with(id, prefix)) break;
          out.emplace_back(std::string(id), DocBytes::copy_of(scan->column_blob(1)));
        }
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Err{statement.error_text()};
        return out;
      });
}

Result<std::vector<DocumentEntry>> read_metadata_matches(Store& store, std::string_view key) {
  return with_read_statement(
      store, &ReaderConnection::index_matches, kIndexMatches,
      [&](ReaderConnection&, Statement& statement) -> Result<std::vector<DocumentEntry>> {
        StatementUse matches(statement);
        matches->bind_text(1, key);
        std::vector<DocumentEntry> out;
        int rc;
        while ((rc = matches->step()) == SQLITE_ROW) {
          out.emplace_back(std::string(matches->column_text(0)),
                           DocBytes::copy_of(matches->column_blob(1)));
        }
        if (rc != SQLITE_DONE) return Err{statement.error_text()};
        return out;
      });
}

Result<std::vector<DocumentEntry>> read_metadata_page(Store& store, std::string_view key,
                                                      std::optional<uint64_t> limit,
                                                      std::optional<uint64_t> offset) {
  return with_read_statement(
      store, &ReaderConnection::index_page, kIndexPage,
      [&](ReaderConnection&, Statement& statement) -> Result<std::vector<DocumentEntry>> {
        StatementUse page(statement);
        page->bind_text(1, key);
        page->bind_int64(2, limit ? clamp_count(*limit) : -1);  // a negative LIMIT has no bound
        page->bind_int64(3, offset ? clamp_count(*offset) : 0);
        std::vector<DocumentEntry> out;
        int rc;
        while ((rc = page->step()) == SQLITE_ROW) {
          if (page->column_is_null(1)) continue;  // the entry outlived its document
          out.emplace_back(std::string(page->column_text(0)),
                           DocBytes::copy_of(page->column_blob(1)));
        }
        if (rc != SQLITE_DONE) return Err{statement.error_text()};
        return out;
      });
}

}  // namespace quorvane::store
