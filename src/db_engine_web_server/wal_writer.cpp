#include "db_engine_web_server/wal_writer.h"

#include <fcntl.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "channel/batch.h"
#include "db_engine_web_server/log_file_guard.h"
#include "db_engine_web_server/wal_frame.h"
#include "util/buffered_writer.h"
#include "util/worker_exit.h"

namespace quorvane::db_engine_web_server {

namespace {

constexpr const char* kLogFailure = "write-ahead log I/O error: ";

[[noreturn]] void log_failure(const std::string& error) {
  throw std::runtime_error(kLogFailure + error);
}

}  // namespace

Result<ClaimedLog> open_wal_log(const std::string& wal_path) {
  Result<UniqueFd> file = open_file(wal_path, O_RDWR | O_CREAT);
  if (!file) return Err{kLogFailure + file.error()};
  return claim_log(std::move(file).value(), wal_path, LogKind::WriteAhead, kLogFailure);
}

void wal_writer(channel::Sender<WriteOp> apply_queue, channel::Receiver<WriteOp> write_queue,
                ClaimedLog wal, std::shared_ptr<std::atomic<bool>> worker_alive,
                const std::shared_ptr<std::atomic<size_t>>& committed_count) {
  bool shutdown_forwarded = false;
  size_t held = 0;  // operations of the batch in hand, not yet passed on
  const WorkerExit exit_rule(std::move(worker_alive), [&] {
    write_queue.done(held);
    write_queue = channel::Receiver<WriteOp>();
    if (!shutdown_forwarded) (void)apply_queue.send(WriteOp::shutdown());
    apply_queue = channel::Sender<WriteOp>();
  });
  // Both are released before the exit rule runs: the log first (what is buffered is written
  // out, an error ignored, and the file closed), then the claim on its file.
  const store::FileLock claim = std::move(wal.claim);
  BufferedFileWriter log(std::move(wal.file), kWalBufferSize);

  size_t frames_since_truncate = 0;
  std::vector<WriteOp> batch;
  batch.reserve(1000);
  const auto is_shutdown = [](const WriteOp& op) { return op.kind == WriteOp::Kind::Shutdown; };

  // Frames the batch, keeping (in order) the operations that are forwarded.
  const auto frame_batch = [&] {
    size_t frame_count = 0;
    size_t kept = 0;
    for (size_t i = 0; i < batch.size(); ++i) {
      std::string error;
      const FrameWrite written = write_wal_frame(log, frame_count, batch[i], &error);
      if (written == FrameWrite::Failed) log_failure(error);
      if (written == FrameWrite::TooLarge) continue;
      if (kept != i) batch[kept] = std::move(batch[i]);
      ++kept;
    }
    batch.resize(kept);
    if (frame_count != 0) {
      if (Status s = log.flush(); !s) log_failure(s.error());
      frames_since_truncate += frame_count;
    }
  };

  for (;;) {
    const channel::RecvStatus status = channel::receive_batch(
        write_queue, std::chrono::milliseconds(5), kWalMaxBatch, batch, is_shutdown);
    if (status == channel::RecvStatus::Disconnected) return;
    if (status == channel::RecvStatus::Timeout) {
      // Idle: everything framed has been forwarded; once it is all committed, empty the log.
      if (frames_since_truncate != 0 &&
          frames_since_truncate == committed_count->load(std::memory_order_acquire)) {
        if (Status s = log.set_length(0); !s) log_failure(s.error());
        if (Status s = log.rewind(); !s) log_failure(s.error());
        committed_count->store(0, std::memory_order_release);
        frames_since_truncate = 0;
      }
      continue;
    }

    held = batch.size();
    frame_batch();
    for (WriteOp& op : batch) {
      const bool shutdown = is_shutdown(op);
      if (!apply_queue.send(std::move(op))) {
        // The database writer has stopped (at a batch it could not commit): what was accepted
        // is kept in the log, for the next construction to replay. The queue admits nothing
        // more; what it holds is framed, and the log is left as it is.
        write_queue.close();
        for (;;) {
          batch.clear();
          write_queue.done(std::exchange(held, 0));
          held = write_queue.try_recv_many(batch, kWalMaxBatch);
          if (held == 0) return;
          frame_batch();
        }
      }
      if (shutdown) shutdown_forwarded = true;
    }
    // Only now, with every operation on the apply queue, does the batch stop counting as held.
    write_queue.done(std::exchange(held, 0));
    batch.clear();
    if (shutdown_forwarded) return;
  }
}

}  // namespace quorvane::db_engine_web_server
