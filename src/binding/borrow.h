// The borrow flag every instance carries: a method takes a shared or an exclusive borrow of
// its instance for its whole run and fails at once, instead of waiting, when that conflicts
// with a call already running (for example close_engine while a read has the GIL released).
#pragma once

#include <atomic>
#include <cstdint>

namespace quorvane::binding {

class BorrowFlag {
 public:
  bool try_shared() {
    intptr_t s = state_.load(std::memory_order_relaxed);
    while (s >= 0) {
      if (state_.compare_exchange_weak(s, s + 1, std::memory_order_acquire)) return true;
    }
    return false;
  }
  void release_shared() { state_.fetch_sub(1, std::memory_order_release); }

  bool try_exclusive() {
    intptr_t expected = 0;
    return state_.compare_exchange_strong(expected, -1, std::memory_order_acquire);
  }
  void release_exclusive() { state_.store(0, std::memory_order_release); }

 private:
  std::atomic<intptr_t> state_{0};  // > 0: shared borrows, -1: exclusive
};

// Sets RuntimeError "Already mutably borrowed" / "Already borrowed".
void raise_shared_borrow_error();
void raise_exclusive_borrow_error();

// A shared borrow; test ok() after construction (false: the error is set).
class SharedBorrow {
 public:
  explicit SharedBorrow(BorrowFlag& flag) : flag_(flag.try_shared() ? &flag : nullptr) {
    if (!flag_) raise_shared_borrow_error();
  }
  SharedBorrow(const SharedBorrow&) = delete;
  SharedBorrow& operator=(const SharedBorrow&) = delete;
  ~SharedBorrow() {
    if (flag_) flag_->release_shared();
  }
  bool ok() const { return flag_ != nullptr; }

 private:
  BorrowFlag* flag_;
};

class ExclusiveBorrow {
 public:
  explicit ExclusiveBorrow(BorrowFlag& flag) : flag_(flag.try_exclusive() ? &flag : nullptr) {
    if (!flag_) raise_exclusive_borrow_error();
  }
  ExclusiveBorrow(const ExclusiveBorrow&) = delete;
  ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
  ~ExclusiveBorrow() {
    if (flag_) flag_->release_exclusive();
  }
  bool ok() const { return flag_ != nullptr; }

 private:
  BorrowFlag* flag_;
};

}  // namespace quorvane::binding
