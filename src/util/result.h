// Result<T> and Status: the value-or-error-text that the store, document and channel layers
// return. Errors are plain message texts; the methods that Python calls turn them into the
// RuntimeError messages callers see. C++ exceptions are kept for faults only.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace quorvane {

// The error half of a Result: a message text, passed on unchanged by every layer.
struct Err {
  std::string message;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}    // NOLINT: implicit by design
  Result(Err error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T* operator->() { return &value(); }
  T& operator*() & { return value(); }

  const std::string& error() const { return std::get<1>(v_).message; }
  Err take_error() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, Err> v_;
};

// A Result without a value.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Err error) : failed_(true), message_(std::move(error.message)) {}  // NOLINT
  static Status Ok() { return {}; }

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const std::string& error() const { return message_; }
  Err take_error() && { return Err{std::move(message_)}; }

 private:
  bool failed_ = false;
  std::string message_;
};

}  // namespace quorvane
