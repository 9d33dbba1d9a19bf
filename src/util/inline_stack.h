// InlineStack<T, N>: a contiguous stack whose first N elements live inside the object, so that
// the common case allocates nothing; past N it moves to the heap and doubles from there.
// Only the elements pushed are ever constructed, and truncate() destroys the ones it drops,
// so an element type that owns a resource releases it as soon as it is popped.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

namespace quorvane {

template <class T, size_t N>
class InlineStack {
 public:
  InlineStack() = default;
  InlineStack(const InlineStack&) = delete;
  InlineStack& operator=(const InlineStack&) = delete;
  ~InlineStack() {
    truncate(0);
    release_heap();
  }

  size_t size() const { return size_; }
  T* data() { return data_; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  T& back() { return data_[size_ - 1]; }
  T& operator[](size_t i) { return data_[i]; }

  void push_back(T&& value) {
    if (size_ == capacity_) grow();
    ::new (static_cast<void*>(data_ + size_)) T(std::move(value));
    ++size_;
  }

  // Destroys the elements from `size` on.
  void truncate(size_t size) {
    while (size_ > size) data_[--size_].~T();
  }

 private:
  void grow() {
    const size_t capacity = capacity_ * 2;
    T* bigger = std::allocator<T>().allocate(capacity);
    for (size_t i = 0; i < size_; ++i) {
      ::new (static_cast<void*>(bigger + i)) T(std::move(data_[i]));
      data_[i].~T();
    }
    release_heap();
    data_ = bigger;
    capacity_ = capacity;
  }

  void release_heap() {
    if (data_ != inline_data()) std::allocator<T>().deallocate(data_, capacity_);
  }

  T* inline_data() { return std::launder(reinterpret_cast<T*>(inline_)); }

  alignas(T) unsigned char inline_[N * sizeof(T)];
  T* data_ = inline_data();
  size_t size_ = 0;
  size_t capacity_ = N;
};

}  // namespace quorvane
