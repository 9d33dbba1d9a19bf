// A bounded multi-producer, single-consumer channel.
//
// bounded<T>(capacity) gives a Sender (copyable: every copy is one more sending end) and a
// Receiver (move-only: the one receiving end). The rules the writer threads rely on:
//  - send() blocks while the queue holds `capacity` entries and fails once the Receiver is
//    gone or the channel is closed; the value is then dropped and the error text is
//    kDisconnectedText.
//  - try_send() never blocks: it fails with Full or Disconnected.
//  - the channel is disconnected for the receiver once every Sender is released, or the
//    channel is closed, and the queue is drained: recv() / recv_timeout() / try_recv() then
//    report Disconnected.
//  - closing the channel (Receiver::close(), or a Closer made from a Sender) admits nothing
//    more: every later send fails, and so does every send waiting for room, while what is
//    queued stays for the receiver to take. A Closer does not count as a sending end, so it
//    keeps nothing connected.
//  - releasing the Receiver drops every queued value and wakes blocked senders, which fail.
//  - len() is the number of queued values.
//  - a Receiver may count the values it holds (count_held_in): each value taken is added to
//    the counter in the same step, under the channel's lock, that removes it from the queue,
//    and the consumer subtracts it with done() once it has passed the value on. So a reader
//    that adds len() and then the counter never misses a value on its way out of the queue.
// Values leave in the order in which their sends completed.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace quorvane::channel {

inline constexpr const char* kDisconnectedText = "sending on a disconnected channel";

enum class TrySendError { None, Full, Disconnected };
enum class RecvStatus { Ok, Timeout, Empty, Disconnected };

namespace detail {

template <class T>
struct State {
  explicit State(size_t cap) : capacity(cap) {}

  std::mutex mutex;
  std::condition_variable not_empty;
  std::condition_variable not_full;
  std::deque<T> queue;
  const size_t capacity;
  size_t senders = 1;
  bool receiver_alive = true;
  bool closed = false;  // nothing more is admitted
  size_t waiting_senders = 0;
  bool receiver_waiting = false;

  bool admits() const { return receiver_alive && !closed; }
  bool disconnected() const { return queue.empty() && (senders == 0 || closed); }

  // Admits nothing more; wakes the senders waiting for room (they fail) and the receiver
  // (which sees the channel disconnected once it has drained the queue).
  void close() {
    {
      std::lock_guard lock(mutex);
      closed = true;
    }
    not_full.notify_all();
    not_empty.notify_all();
  }
};

}  // namespace detail

// Closes a channel without being one of its sending ends (see the top of this file).
template <class T>
class Closer {
 public:
  Closer() = default;
  explicit Closer(std::shared_ptr<detail::State<T>> state) : state_(std::move(state)) {}

  void close() const {
    if (state_) state_->close();
  }

 private:
  std::shared_ptr<detail::State<T>> state_;
};

template <class T>
class Sender {
 public:
  Sender() = default;
  explicit Sender(std::shared_ptr<detail::State<T>> state) : state_(std::move(state)) {}
  Sender(const Sender& other) : state_(other.state_) {
    if (state_) {
      std::lock_guard lock(state_->mutex);
      ++state_->senders;
    }
  }
  Sender& operator=(const Sender& other) {
    if (this != &other) *this = Sender(other);
    return *this;
  }
  Sender(Sender&& other) noexcept = default;
  Sender& operator=(Sender&& other) noexcept {
    if (this != &other) {
      release();
      state_ = std::move(other.state_);
    }
    return *this;
  }
  ~Sender() { release(); }

  explicit operator bool() const { return state_ != nullptr; }

  // Blocks while the queue is full. Returns false (and drops `value`) once the receiver is gone
  // or the channel is closed.
  bool send(T value) {
    std::unique_lock lock(state_->mutex);
    while (state_->admits() && state_->queue.size() >= state_->capacity) {
      ++state_->waiting_senders;
      state_->not_full.wait(lock);
      --state_->waiting_senders;
    }
    if (!state_->admits()) return false;
    state_->queue.push_back(std::move(value));
    const bool wake = state_->receiver_waiting;
    lock.unlock();
    if (wake) state_->not_empty.notify_one();
    return true;
  }

  // Never blocks. On failure `value` is dropped.
  TrySendError try_send(T value) {
    std::unique_lock lock(state_->mutex);
    if (!state_->admits()) return TrySendError::Disconnected;
    if (state_->queue.size() >= state_->capacity) return TrySendError::Full;
    state_->queue.push_back(std::move(value));
    const bool wake = state_->receiver_waiting;
    lock.unlock();
    if (wake) state_->not_empty.notify_one();
    return TrySendError::None;
  }

  size_t len() const {
    std::lock_guard lock(state_->mutex);
    return state_->queue.size();
  }

  // A Closer of this channel.
  Closer<T> closer() const { return Closer<T>(state_); }
  // Whether the channel was closed (rather than left by its receiver).
  bool closed() const {
    std::lock_guard lock(state_->mutex);
    return state_->closed;
  }

 private:
  void release() {
    if (!state_) return;
    bool wake;
    {
      std::lock_guard lock(state_->mutex);
      wake = --state_->senders == 0 && state_->receiver_waiting;
    }
    if (wake) state_->not_empty.notify_all();
    state_.reset();
  }

  std::shared_ptr<detail::State<T>> state_;
};

template <class T>
class Receiver {
 public:
  Receiver() = default;
  explicit Receiver(std::shared_ptr<detail::State<T>> state) : state_(std::move(state)) {}
  Receiver(Receiver&&) noexcept = default;
  Receiver& operator=(Receiver&& other) noexcept {
    if (this != &other) {
      release();
      state_ = std::move(other.state_);
      held_ = std::move(other.held_);
    }
    return *this;
  }
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;
  ~Receiver() { release(); }

  explicit operator bool() const { return state_ != nullptr; }

  // From now on every value taken is added to `*held` as it leaves the queue.
  void count_held_in(std::shared_ptr<std::atomic<size_t>> held) {
    std::lock_guard lock(state_->mutex);
    held_ = std::move(held);
  }
  // The consumer has passed on (or dropped) `n` of the values it took.
  void done(size_t n) {
    if (held_ && n != 0) held_->fetch_sub(n, std::memory_order_acq_rel);
  }

  // Waits without a time limit. Returns nullopt once disconnected.
  std::optional<T> recv() {
    std::unique_lock lock(state_->mutex);
    while (state_->queue.empty()) {
      if (state_->disconnected()) return std::nullopt;
      wait(lock, std::nullopt);
    }
    return pop(lock);
  }

  // Waits up to `timeout`. `status` is Ok, Timeout or Disconnected.
  std::optional<T> recv_timeout(std::chrono::nanoseconds timeout, RecvStatus& status) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(state_->mutex);
    while (state_->queue.empty()) {
      if (state_->disconnected()) {
        status = RecvStatus::Disconnected;
        return std::nullopt;
      }
      if (!wait(lock, deadline)) {
        if (!state_->queue.empty()) break;
        status = state_->disconnected() ? RecvStatus::Disconnected : RecvStatus::Timeout;
        return std::nullopt;
      }
    }
    status = RecvStatus::Ok;
    return pop(lock);
  }

  // Never waits. `status` is Ok, Empty or Disconnected.
  std::optional<T> try_recv(RecvStatus& status) {
    std::unique_lock lock(state_->mutex);
    if (state_->queue.empty()) {
      status = state_->disconnected() ? RecvStatus::Disconnected : RecvStatus::Empty;
      return std::nullopt;
    }
    status = RecvStatus::Ok;
    return pop(lock);
  }

  // Non-waiting receives, taken under one lock: moves queued values into `out` until the queue
  // is empty or `out` holds `limit` values. Returns how many were taken.
  size_t try_recv_many(std::vector<T>& out, size_t limit) {
    return try_recv_many(out, limit, [](const T&) { return false; });
  }

  // The same, also stopping right after a value for which `stop_after(value)` is true.
  // `stop_after` runs under the channel's lock: it must be cheap and must not use the channel.
  template <class StopAfter>
  size_t try_recv_many(std::vector<T>& out, size_t limit, StopAfter&& stop_after) {
    std::unique_lock lock(state_->mutex);
    size_t taken = 0;
    while (out.size() < limit && !state_->queue.empty()) {
      out.push_back(std::move(state_->queue.front()));
      state_->queue.pop_front();
      ++taken;
      if (stop_after(out.back())) break;
    }
    if (held_ && taken != 0) held_->fetch_add(taken, std::memory_order_acq_rel);
    const bool wake = taken > 0 && state_->waiting_senders > 0;
    lock.unlock();
    if (wake) state_->not_full.notify_all();
    return taken;
  }

  size_t len() const {
    std::lock_guard lock(state_->mutex);
    return state_->queue.size();
  }

  // Admits nothing more (see the top of this file); what is queued stays to be taken.
  void close() { state_->close(); }

 private:
  // Returns false on time-out.
  bool wait(std::unique_lock<std::mutex>& lock,
            std::optional<std::chrono::steady_clock::time_point> deadline) {
    state_->receiver_waiting = true;
    bool in_time = true;
    if (deadline) {
      in_time = state_->not_empty.wait_until(lock, *deadline) == std::cv_status::no_timeout;
    } else {
      state_->not_empty.wait(lock);
    }
    state_->receiver_waiting = false;
    return in_time;
  }

  T pop(std::unique_lock<std::mutex>& lock) {
    T value = std::move(state_->queue.front());
    state_->queue.pop_front();
    if (held_) held_->fetch_add(1, std::memory_order_acq_rel);
    const bool wake = state_->waiting_senders > 0;
    lock.unlock();
    if (wake) state_->not_full.notify_one();
    return value;
  }

  void release() {
    if (!state_) return;
    std::deque<T> dropped;
    {
      std::lock_guard lock(state_->mutex);
      state_->receiver_alive = false;
      dropped.swap(state_->queue);
    }
    state_->not_full.notify_all();
    state_.reset();
    // `dropped` is destroyed here, outside the lock.
  }

  std::shared_ptr<detail::State<T>> state_;
  std::shared_ptr<std::atomic<size_t>> held_;
};

template <class T>
struct Endpoints {
  Sender<T> sender;
  Receiver<T> receiver;
};

template <class T>
Endpoints<T> bounded(size_t capacity) {
  auto state = std::make_shared<detail::State<T>>(capacity);
  return Endpoints<T>{Sender<T>(state), Receiver<T>(std::move(state))};
}

}  // namespace quorvane::channel
