// The engine's error value and the result type of fallible engine calls.
#pragma once

#include <string>
#include <utility>
#include <variant>

#include "error/io_error.h"

namespace vestle {

class VestleError {
 public:
  enum class Kind { Io };

  explicit VestleError(IoError io) noexcept : io_(io) {}

  [[nodiscard]] Kind kind() const noexcept { return Kind::Io; }
  [[nodiscard]] const IoError& io() const noexcept { return io_; }
  [[nodiscard]] std::string text() const { return io_.text(); }

 private:
  IoError io_;
};

// A value or an error; fallible engine calls return it instead of throwing.
template <class T, class E = VestleError>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  Result(E error) : state_(std::in_place_index<1>, std::move(error)) {}   // NOLINT: implicit by design

  [[nodiscard]] bool has_value() const noexcept { return state_.index() == 0; }
  explicit operator bool() const noexcept { return has_value(); }
  [[nodiscard]] T& value() & { return std::get<0>(state_); }
  [[nodiscard]] T&& value() && { return std::get<0>(std::move(state_)); }
  [[nodiscard]] const E& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, E> state_;
};

// Result of a fallible call that produces nothing.
struct Done {};

}  // namespace vestle
