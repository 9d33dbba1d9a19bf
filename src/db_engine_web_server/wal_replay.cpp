#include "db_engine_web_server/wal_replay.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <stdexcept>

#include "db_engine_web_server/log_file_guard.h"
#include "db_engine_web_server/wal_frame_reader.h"
#include "methods/record_size.h"
#include "store/apply_operation.h"
#include "store/write_transaction.h"
#include "util/buffered_reader.h"
#include "util/console.h"
#include "util/file.h"
#include "util/format.h"
#include "util/utf8_lossy.h"

namespace quorvane::db_engine_web_server {

namespace {

// Applies one complete frame inside the replay's transaction.
void replay_frame(store::WriteTransaction& txn, store::OperationApplier& applier, WalFrame& frame) {
  if (frame.op != kWalInsert && frame.op != kWalDelete && frame.op != kWalUpsert) {
    print_stdout_line(format_message("Op type is different, skipping this operation {}",
                                     {std::to_string(frame.op)}));
    return;
  }
  const std::string id = utf8_lossy(frame.id);
  // A damaged log can carry records beyond what the store holds: they are refused here, as
  // the store would refuse them, before they reach it.
  const bool id_fits = id.size() <= store::kMaxRecordBytes;
  const std::optional<std::string> too_large =
      methods::record_size_refusal(id, frame.payload.size());
  switch (frame.op) {
    case kWalInsert: {
      std::string refusal;
      if (too_large) {
        refusal = *too_large;
      } else if (applier.apply(txn, store::OpKind::Insert, id, &frame.payload, &refusal)) {
        return;
      }
      print_stdout_line(
          format_message("Failed to insert id {}. Skipping. Error {}", {id, refusal}));
      return;
    }
    case kWalDelete:
      if (id_fits) (void)applier.apply(txn, store::OpKind::Delete, id, nullptr);
      return;
    default:
      if (!too_large) {
        (void)applier.apply(txn, store::OpKind::Upsert, id, &frame.payload);
      } else if (id_fits) {
        (void)applier.apply(txn, store::OpKind::Delete, id, nullptr);
      }
      return;
  }
}

}  // namespace

Status recover_wal_on_startup(store::Store& db, const std::string& wal_path) {
  int open_errno = 0;
  Result<UniqueFd> opened = open_file(wal_path, O_RDWR, &open_errno);
  if (!opened) {
    if (open_errno == ENOENT) return Status::Ok();
    return Err{"Failed to open WAL file " + opened.error()};
  }
  // Only a regular file ends: a device or a pipe in its place could be read for ever.
  struct stat st {};
  if (::fstat(opened->get(), &st) != 0)
    return Err{"Failed to open WAL file " + system_error_text(errno)};
  if (!S_ISREG(st.st_mode)) return Err{"Failed to open WAL file not a regular file"};
  // Held, so that neither a store's database is replayed and emptied nor a store opens the
  // log while it is.
  Result<ClaimedLog> log = claim_log(std::move(opened).value(), wal_path, LogKind::WriteAhead,
                                     "Failed to open WAL file ");
  if (!log) return std::move(log).take_error();
  const UniqueFd& file = log->file;

  Result<store::WriteTransaction> txn = store::WriteTransaction::begin(db);
  if (!txn) return std::move(txn).take_error();
  if (Status s = txn->open_tables(); !s) return s;

  store::OperationApplier applier;
  BufferedFileReader reader(file.get());
  uint64_t remaining = static_cast<uint64_t>(st.st_size);
  WalFrame frame;
  for (bool more = true; more;) {
    std::string error;
    switch (read_wal_frame(reader, remaining, frame, error)) {
      case WalRead::Frame:
        replay_frame(txn.value(), applier, frame);
        // Once the transaction has failed, nothing more is applied; the commit below then
        // fails with the store's message.
        more = !txn->failed();
        break;
      case WalRead::End:
        more = false;
        break;
      case WalRead::IncompleteHeader:
        print_stdout_line("WAL Recovery: Found incomplete frame at EOF. Discarding partial write");
        more = false;
        break;
      case WalRead::MissingData:
        print_stdout_line("WAL Recovery: Missing data for frame, discarding write!");
        more = false;
        break;
      case WalRead::Error:
        return Err{"WAL read error " + error};
    }
  }
  if (Status s = txn->commit(); !s) return s;

  if (::ftruncate(file.get(), 0) != 0) {
    throw std::runtime_error("Failed to truncate the write-ahead log after replay: " +
                             system_error_text(errno));
  }
  print_stdout_line("WAL Recover: Successfully written all records to database!");
  return Status::Ok();
}

}  // namespace quorvane::db_engine_web_server
