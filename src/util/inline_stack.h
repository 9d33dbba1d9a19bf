// InlineStack<T, N>: a contiguous stack whose first N elements live inside the object, so that
// the common case allocates nothing; past N it moves to the heap and doubles from there.
// Slots above size() hold default-constructed values (truncate() resets the ones it drops),
// so an element type that owns a resource releases it as soon as it is popped.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>

namespace quorvane {

template <class T, size_t N>
class InlineStack {
 public:
  InlineStack() = default;
  InlineStack(const InlineStack&) = delete;
  InlineStack& operator=(const InlineStack&) = delete;

  size_t size() const { return size_; }
  T* data() { return data_; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  T& back() { return data_[size_ - 1]; }
  T& operator[](size_t i) { return data_[i]; }

  void push_back(T&& value) {
    if (size_ == capacity_) grow();
    data_[size_++] = std::move(value);
  }

  // Drops the elements from `size` on.
  void truncate(size_t size) {
    while (size_ > size) data_[--size_] = T();
  }

 private:
  void grow() {
    const size_t capacity = capacity_ * 2;
    auto bigger = std::make_unique<T[]>(capacity);
    for (size_t i = 0; i < size_; ++i) bigger[i] = std::move(data_[i]);
    heap_ = std::move(bigger);
    data_ = heap_.get();
    capacity_ = capacity;
  }

  T inline_[N];
  std::unique_ptr<T[]> heap_;
  T* data_ = inline_;
  size_t size_ = 0;
  size_t capacity_ = N;
};

}  // namespace quorvane
