// A step that runs one statement reads one snapshot by itself (SQLite's implicit read
// transaction); read_documents, which runs its statement once per id, opens an explicit one.
#include "store/reads.h"

#include <limits>

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

// Prepares `slot` on the connection's first use of it.
Status prepare_once(ReaderConnection& reader, Statement& slot, std::string_view sql) {
  if (slot) return Status::Ok();
  Result<Statement> statement = Statement::prepare(reader.connection.get(), sql);
  if (!statement) return std::move(statement).take_error();
  slot = std::move(statement).value();
  return Status::Ok();
}

// An explicit read transaction: every statement between begin() and end() reads the snapshot
// taken by the first of them. Left without end(), it is rolled back, so the connection goes
// back to the pool outside any transaction.
class ReadSnapshot {
 public:
  explicit ReadSnapshot(Connection& connection) : connection_(connection) {}
  ReadSnapshot(const ReadSnapshot&) = delete;
  ReadSnapshot& operator=(const ReadSnapshot&) = delete;
  ~ReadSnapshot() {
    if (active_) (void)connection_.exec("ROLLBACK");
  }

  Status begin() {
    Status s = connection_.exec("BEGIN");
    active_ = s.ok();
    return s;
  }
  Status end() {
    active_ = false;
    Status s = connection_.exec("COMMIT");
    if (!s) (void)connection_.exec("ROLLBACK");
    return s;
  }

 private:
  Connection& connection_;
  bool active_ = false;
};

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

int64_t clamp_count(uint64_t count) {
  constexpr auto kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  return static_cast<int64_t>(count > kMax ? kMax : count);
}

Err step_error(ReaderConnection& reader) { return Err{reader.connection.error_text()}; }

}  // namespace

Result<std::optional<DocBytes>> read_document(Store& store, std::string_view id) {
  Result<ReadLease> lease = store.lease_reader();
  if (!lease) return std::move(lease).take_error();
  ReaderConnection& reader = *lease.value();
  if (Status s = prepare_once(reader, reader.get_doc, kSelectDocument); !s) {
    return std::move(s).take_error();
  }
  StatementUse select(reader.get_doc);
  select->bind_text(1, id);
  const int rc = select->step();
  if (rc == SQLITE_ROW) return std::optional<DocBytes>(DocBytes::copy_of(select->column_blob(0)));
  if (rc == SQLITE_DONE) return std::optional<DocBytes>();
  return step_error(reader);
}

Result<std::vector<OptionalDocumentEntry>> read_documents(Store& store,
                                                          std::vector<std::string> ids) {
  Result<ReadLease> lease = store.lease_reader();
  if (!lease) return std::move(lease).take_error();
  ReaderConnection& reader = *lease.value();
  if (Status s = prepare_once(reader, reader.get_doc, kSelectDocument); !s) {
    return std::move(s).take_error();
  }
  ReadSnapshot snapshot(reader.connection);
  if (ids.size() > 1) {
    if (Status s = snapshot.begin(); !s) return std::move(s).take_error();
  }
  std::vector<OptionalDocumentEntry> out;
  out.reserve(ids.size());
  for (std::string& id : ids) {
    std::optional<DocBytes> doc;
    {
      StatementUse select(reader.get_doc);
      select->bind_text(1, id);
      const int rc = select->step();
      if (rc == SQLITE_ROW) {
        doc = DocBytes::copy_of(select->column_blob(0));
      } else if (rc != SQLITE_DONE) {
        return step_error(reader);
      }
    }
    out.emplace_back(std::move(id), std::move(doc));
  }
  if (ids.size() > 1) {
    if (Status s = snapshot.end(); !s) return std::move(s).take_error();
  }
  return out;
}

Result<std::vector<DocumentEntry>> read_prefix(Store& store, std::string_view prefix) {
  Result<ReadLease> lease = store.lease_reader();
  if (!lease) return std::move(lease).take_error();
  ReaderConnection& reader = *lease.value();
  if (Status s = prepare_once(reader, reader.scan_from, kScanFrom); !s) {
    return std::move(s).take_error();
  }
  StatementUse scan(reader.scan_from);
  scan->bind_text(1, prefix);
  std::vector<DocumentEntry> out;
  int rc;
  while ((rc = scan->step()) == SQLITE_ROW) {
    const std::string_view id = scan->column_text(0);
    // Every id with the prefix lies in one run from the prefix on.
    if (!starts_with(id, prefix)) break;
    out.emplace_back(std::string(id), DocBytes::copy_of(scan->column_blob(1)));
  }
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return step_error(reader);
  return out;
}

Result<std::vector<DocumentEntry>> read_metadata_matches(Store& store, std::string_view key) {
  Result<ReadLease> lease = store.lease_reader();
  if (!lease) return std::move(lease).take_error();
  ReaderConnection& reader = *lease.value();
  if (Status s = prepare_once(reader, reader.index_matches, kIndexMatches); !s) {
    return std::move(s).take_error();
  }
  StatementUse matches(reader.index_matches);
  matches->bind_text(1, key);
  std::vector<DocumentEntry> out;
  int rc;
  while ((rc = matches->step()) == SQLITE_ROW) {
    out.emplace_back(std::string(matches->column_text(0)),
                     DocBytes::copy_of(matches->column_blob(1)));
  }
  if (rc != SQLITE_DONE) return step_error(reader);
  return out;
}

Result<std::vector<DocumentEntry>> read_metadata_page(Store& store, std::string_view key,
                                                      std::optional<uint64_t> limit,
                                                      std::optional<uint64_t> offset) {
  Result<ReadLease> lease = store.lease_reader();
  if (!lease) return std::move(lease).take_error();
  ReaderConnection& reader = *lease.value();
  if (Status s = prepare_once(reader, reader.index_page, kIndexPage); !s) {
    return std::move(s).take_error();
  }
  StatementUse page(reader.index_page);
  page->bind_text(1, key);
  page->bind_int64(2, limit ? clamp_count(*limit) : -1);  // a negative LIMIT has no bound
  page->bind_int64(3, offset ? clamp_count(*offset) : 0);
  std::vector<DocumentEntry> out;
  int rc;
  while ((rc = page->step()) == SQLITE_ROW) {
    if (page->column_is_null(1)) continue;  // the entry outlived its document
    out.emplace_back(std::string(page->column_text(0)), DocBytes::copy_of(page->column_blob(1)));
  }
  if (rc != SQLITE_DONE) return step_error(reader);
  return out;
}

}  // namespace quorvane::store
