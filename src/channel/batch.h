// receive_batch: how every writer thread takes the batch it works on in one cycle.
//
// It waits up to `wait` for a first value, then takes, without waiting, the values already
// queued, until the batch holds `limit` values, the queue is found empty (or disconnected), or
// `stop_after(value)` is true for the value just taken (that value stays in the batch). So a
// writer never waits for a batch to fill. `stop_after` is called once for every value taken,
// the first included, in order; it may keep a running tally (it runs under the channel's lock,
// so it must be cheap).
//
// Returns Ok with 1 to `limit` values appended to `batch` (which the caller passes in empty),
// Timeout when nothing came within `wait`, Disconnected when every sender is gone and the
// queue is drained.
#pragma once

#include <chrono>
#include <optional>
#include <vector>

#include "channel/channel.h"

namespace quorvane::channel {

template <class T, class StopAfter>
RecvStatus receive_batch(Receiver<T>& queue, std::chrono::nanoseconds wait, size_t limit,
                         std::vector<T>& batch, StopAfter&& stop_after) {
  RecvStatus status;
  std::optional<T> first = queue.recv_timeout(wait, status);
  if (status != RecvStatus::Ok) return status;
  batch.push_back(std::move(*first));
  if (batch.size() < limit && !stop_after(batch.back())) {
    queue.try_recv_many(batch, limit, stop_after);
  }
  return RecvStatus::Ok;
}

// The same without a stop condition: only the count bounds the batch.
template <class T>
RecvStatus receive_batch(Receiver<T>& queue, std::chrono::nanoseconds wait, size_t limit,
                         std::vector<T>& batch) {
  return receive_batch(queue, wait, limit, batch, [](const T&) { return false; });
}

}  // namespace quorvane::channel
