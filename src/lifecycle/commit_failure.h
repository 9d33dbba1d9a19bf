// CommitFailure: what a writer thread leaves behind when it stops at a batch that it could not
// commit (a transaction that could not be begun, tables that could not be opened, a failed
// commit: a full disk, an I/O error). The writer records the store's message before it ends.
// DBEngine's close_engine raises it; the commit at the interpreter's exit prints it unless a
// caller was told already (take).
//
// Shared by the writer and its instance (and the exit registry) through std::shared_ptr; used
// from any thread.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::lifecycle {

// What DBEngine's close_engine raises after such a stop, with the store's message, and what
// the lines printed at the exit say.
std::string writes_not_committed_text(std::string_view message);

class CommitFailure {
 public:
  // Keeps the first message recorded.
  void record(std::string_view message);
  // The message recorded, if any.
  std::optional<std::string> message() const;
  // The message, once: nothing when none was recorded or it was taken already.
  std::optional<std::string> take();
  // True when a message is recorded and nobody has taken it yet.
  bool pending() const;

 private:
  mutable std::mutex mutex_;
  std::optional<std::string> message_;
  bool taken_ = false;
};

}  // namespace quorvane::lifecycle
