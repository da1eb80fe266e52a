#pragma once

#include <optional>
#include <string>
#include <utility>

namespace zrn::cli {

// A value or the reason there is none. Parsers of untrusted input return this
// instead of throwing, so a fuzz target can call them directly.
template <typename T>
class Outcome {
  public:
    Outcome(T value) : value_(std::move(value)) {}  // NOLINT: implicit by design
    static Outcome failure(std::string error) {
        Outcome o;
        o.error_ = std::move(error);
        return o;
    }

    explicit operator bool() const { return value_.has_value(); }
    bool ok() const { return value_.has_value(); }
    T& value() { return *value_; }
    const T& value() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    const std::string& error() const { return error_; }

  private:
    Outcome() = default;
    std::optional<T> value_;
    std::string error_;
};

}  // namespace zrn::cli
