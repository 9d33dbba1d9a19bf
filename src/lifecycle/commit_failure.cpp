#include "lifecycle/commit_failure.h"

#include "util/format.h"

namespace quorvane::lifecycle {

std::string writes_not_committed_text(std::string_view message) {
  return format_message("Writes could not be committed; the background writer has stopped: {}",
                        {message});
}

void CommitFailure::record(std::string_view message) {
  std::lock_guard lock(mutex_);
  if (!message_) message_ = std::string(message);
}

std::optional<std::string> CommitFailure::message() const {
  std::lock_guard lock(mutex_);
  return message_;
}

std::optional<std::string> CommitFailure::take() {
  std::lock_guard lock(mutex_);
  if (!message_ || taken_) return std::nullopt;
  taken_ = true;
  return message_;
}

bool CommitFailure::pending() const {
  std::lock_guard lock(mutex_);
  return message_ && !taken_;
}

}  // namespace quorvane::lifecycle
