// What became of an operation that can fail: success (with its value), or
// the reason it failed, in words an operator can act on ("No space left on
// device"). The reason travels with the result, so no caller has to ask the
// system afterwards what went wrong.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace vorlund {

struct Failure {
    std::string reason;
};

class [[nodiscard]] Status {
  public:
    Status() = default;  // success
    Status(Failure failure) : failed_(true), reason_(std::move(failure.reason)) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    // Empty on success.
    const std::string& reason() const { return reason_; }

  private:
    bool failed_ = false;
    std::string reason_;
};

template <class T>
class [[nodiscard]] Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    Result(Failure failure) : value_(std::move(failure)) {}

    bool ok() const { return value_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& operator*() { return std::get<0>(value_); }
    const T& operator*() const { return std::get<0>(value_); }
    T* operator->() { return &std::get<0>(value_); }
    const T* operator->() const { return &std::get<0>(value_); }
    const std::string& reason() const { return std::get<1>(value_).reason; }
    Status status() const { return ok() ? Status() : Status(std::get<1>(value_)); }

  private:
    std::variant<T, Failure> value_;
};

}  // namespace vorlund
