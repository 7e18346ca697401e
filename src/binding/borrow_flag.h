// Per-object borrow flag that refuses overlapping use of one object across threads.
#pragma once

#include <atomic>
#include <cstdint>

#include "binding/python_api.h"

namespace vestle::binding {

// Counts shared borrows (> 0) or marks one exclusive borrow (-1).
class BorrowFlag {
 public:
  [[nodiscard]] bool try_share() noexcept {
    std::intptr_t current = state_.load(std::memory_order_relaxed);
    do {
      if (current < 0) {
        return false;
      }
    } while (!state_.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                           std::memory_order_relaxed));
    return true;
  }
  void release_share() noexcept { state_.fetch_sub(1, std::memory_order_release); }

  [[nodiscard]] bool try_take_exclusive() noexcept {
    std::intptr_t expected = 0;
    return state_.compare_exchange_strong(expected, kExclusive, std::memory_order_acquire,
                                          std::memory_order_relaxed);
  }
  void release_exclusive() noexcept { state_.store(0, std::memory_order_release); }

 private:
  static constexpr std::intptr_t kExclusive = -1;
  std::atomic<std::intptr_t> state_{0};
};

// Holds a shared borrow for its scope. When refused, RuntimeError is set and
// the guard converts to false; the flag is left untouched.
class SharedBorrow {
 public:
  explicit SharedBorrow(BorrowFlag& flag) noexcept : flag_(flag.try_share() ? &flag : nullptr) {
    if (flag_ == nullptr) {
      PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
    }
  }
  SharedBorrow(const SharedBorrow&) = delete;
  SharedBorrow& operator=(const SharedBorrow&) = delete;
  ~SharedBorrow() {
    if (flag_ != nullptr) {
      flag_->release_share();
    }
  }
  [[nodiscard]] explicit operator bool() const noexcept { return flag_ != nullptr; }

 private:
  BorrowFlag* flag_;
};

// Holds the exclusive borrow until `release()` or scope exit. When refused,
// RuntimeError is set and the guard converts to false.
class ExclusiveBorrow {
 public:
  explicit ExclusiveBorrow(BorrowFlag& flag) noexcept
      : flag_(flag.try_take_exclusive() ? &flag : nullptr) {
    if (flag_ == nullptr) {
      PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
    }
  }
  ExclusiveBorrow(const ExclusiveBorrow&) = delete;
  ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
  ~ExclusiveBorrow() { release(); }
  [[nodiscard]] explicit operator bool() const noexcept { return flag_ != nullptr; }

  void release() noexcept {
    if (flag_ != nullptr) {
      flag_->release_exclusive();
      flag_ = nullptr;
    }
  }

 private:
  BorrowFlag* flag_;
};

}  // namespace vestle::binding
