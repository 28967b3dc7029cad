#pragma once
// The database call log: every database call made for the world, timed, in the order the calls
// finished. The simulation loop takes the whole log once a tick and charges each call to the
// tick phase in which it started.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace ostrel_server::sqlclock {

using Clock = std::chrono::steady_clock;

// One timed database call.
struct Call {
  std::string_view label;      // a fixed text ("load chunk"); never owned
  Clock::time_point start;     // when the call began
  Clock::duration duration{};  // zero when the clock read earlier at the end
};

inline constexpr std::size_t kMaxCalls = 4096;
inline constexpr std::string_view kUnlisted = "unlisted";

// What one take hands over: the listed calls, then the overflow call when there was one.
struct Taken {
  std::vector<Call> calls;
  std::optional<Call> unlisted;
};

class Log {
 public:
  Log() = default;
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;
  Log(Log&&) noexcept = default;
  Log& operator=(Log&&) noexcept = default;

  // Records one call that ran from `start` to `end`. Never fails: a log that is borrowed at this
  // moment drops the call. Past kMaxCalls the durations add up in the "unlisted" call.
  void record(std::string_view label, Clock::time_point start, Clock::time_point end);
  // The calls, then the overflow call; the log is empty afterwards.
  Taken take();
  // Calls held, the overflow call not counted.
  std::size_t size() const { return calls_.size(); }

  // Marks the log borrowed for the guard's lifetime; recording meanwhile drops calls. Null when
  // the log is borrowed already.
  class Borrow {
   public:
    explicit Borrow(Log& log) : log_(&log) { log_->borrowed_ = true; }
    Borrow(Borrow&& o) noexcept : log_(std::exchange(o.log_, nullptr)) {}
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;
    Borrow& operator=(Borrow&&) = delete;
    ~Borrow() {
      if (log_) log_->borrowed_ = false;
    }

   private:
    Log* log_;
  };
  std::optional<Borrow> borrow();

 private:
  bool borrowed_ = false;         // single-thread guard; set while a Borrow lives
  std::vector<Call> calls_;       // at most kMaxCalls, in the order they finished
  std::optional<Call> unlisted_;  // sum of the calls beyond kMaxCalls
};

// Runs `f`, timing it into `log` under `label`, and passes its result on unchanged.
template <class F>
auto timed(Log& log, std::string_view label, F&& f) -> decltype(f()) {
  const auto start = Clock::now();
  if constexpr (std::is_void_v<decltype(f())>) {
    f();
    log.record(label, start, Clock::now());
  } else {
    auto result = f();
    log.record(label, start, Clock::now());
    return result;
  }
}

}  // namespace ostrel_server::sqlclock
