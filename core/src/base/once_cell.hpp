#pragma once
// A set-once cell: empty until one `set` succeeds, then holding that value, unchanged, for its
// whole life. Readers on any thread see either nothing or the value, never a half-written one.

#include <atomic>
#include <cstdint>
#include <new>
#include <optional>
#include <utility>

namespace ostrel_core::sync {

template <class T>
class SetOnce {
 public:
  SetOnce() = default;
  SetOnce(const SetOnce&) = delete;
  SetOnce& operator=(const SetOnce&) = delete;

  // Stores the value; false, and the value dropped, when the cell was set (or is being set)
  // already.
  bool set(T value) {
    std::uint8_t expected = kEmpty;
    if (!state_.compare_exchange_strong(expected, kWriting, std::memory_order_acquire)) return false;
    value_.emplace(std::move(value));
    state_.store(kFull, std::memory_order_release);
    return true;
  }
  // Null until set; afterwards the same value for the cell's life.
  const T* get() const {
    if (state_.load(std::memory_order_acquire) != kFull) return nullptr;
    return &*value_;
  }

 private:
  static constexpr std::uint8_t kEmpty = 0;
  static constexpr std::uint8_t kWriting = 1;
  static constexpr std::uint8_t kFull = 2;
  std::atomic<std::uint8_t> state_{kEmpty};
  std::optional<T> value_;  // written once, by the winner of state_, before kFull is published
};

}  // namespace ostrel_core::sync
