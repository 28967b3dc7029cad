#include "sync/async_mutex.hpp"

#include <gtest/gtest.h>

#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <atomic>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "support/cancellable.hpp"
#include "sync/await.hpp"

namespace ostrel_server::sync {
namespace {

// Waits (spinning, not sleeping) until `n` waiters stand in line.
void until_waiting(AsyncLock& line, std::size_t n) {
  while (line.waiting() != n) std::this_thread::yield();
}

asio::awaitable<void> append_in_turn(AsyncMutex<std::vector<int>>& m, int id) {
  auto g = co_await lock(m);
  g->push_back(id);
}

// Runs what is left, then answers what the waiters appended (the lock must be free by then).
std::vector<int> appended_after_run(asio::io_context& io, AsyncMutex<std::vector<int>>& m) {
  io.restart();
  io.run();
  auto g = m.try_lock();
  EXPECT_TRUE(g);
  return g ? **g : std::vector<int>{};
}

TEST(AsyncMutex, FirstComeFirstServedAmongCoroutinesAndAPlainThread) {
  AsyncMutex<std::vector<int>> m;
  auto held = m.try_lock();
  ASSERT_TRUE(held);
  EXPECT_FALSE(m.try_lock());

  asio::io_context io;
  std::thread plain;
  for (int i = 0; i < 8; ++i) {
    asio::co_spawn(io, append_in_turn(m, i), asio::detached);
    io.poll();  // runs the coroutine into the line
    until_waiting(m.line(), static_cast<std::size_t>(i + 1 + (i >= 4 ? 1 : 0)));
    if (i == 3) {
      plain = std::thread([&] { m.lock_blocking()->push_back(100); });
      until_waiting(m.line(), 5);
    }
  }
  EXPECT_FALSE(m.try_lock());  // somebody waits: a try never jumps the line
  held.reset();
  // The waiting coroutines keep the context's work alive until the last one ran.
  auto order = appended_after_run(io, m);
  plain.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 100, 4, 5, 6, 7}));
}

TEST(AsyncMutex, CancelledWaiterLeavesTheLineAndTheNextOneGetsTheLock) {
  AsyncMutex<std::vector<int>> m;
  auto held = m.try_lock();
  asio::io_context io;
  asio::cancellation_signal cancel;
  bool aborted = false;
  test::spawn_cancellable(io, cancel, append_in_turn(m, -1), aborted);
  asio::co_spawn(io, append_in_turn(m, 2), asio::detached);
  io.poll();
  ASSERT_EQ(m.line().waiting(), 2u);
  cancel.emit(asio::cancellation_type::terminal);
  io.poll();
  EXPECT_TRUE(aborted);
  EXPECT_EQ(m.line().waiting(), 1u);
  held.reset();
  EXPECT_EQ(appended_after_run(io, m), std::vector<int>{2});
}

TEST(AsyncMutex, WaiterCancelledAfterItsGrantStillReleasesTheLock) {
  AsyncMutex<std::vector<int>> m;
  auto held = m.try_lock();
  asio::io_context io;
  asio::cancellation_signal cancel;
  bool aborted = false;
  test::spawn_cancellable(io, cancel, append_in_turn(m, 1), aborted);
  io.poll();
  held.reset();  // granted: the completion is posted, not run yet
  cancel.emit(asio::cancellation_type::terminal);
  EXPECT_EQ(appended_after_run(io, m), std::vector<int>{1});
  EXPECT_FALSE(aborted);  // the grant won: the waiter held the lock and let it go
}

TEST(AsyncMutex, GrantDroppedWithItsExecutorFreesTheLock) {
  AsyncMutex<int> m(0);
  auto held = m.try_lock();
  {
    asio::io_context io;
    asio::co_spawn(
        io, [&]() -> asio::awaitable<void> { auto g = co_await lock(m); }, asio::detached);
    io.poll();
    held.reset();  // granted into a context that never runs again
  }
  EXPECT_TRUE(m.try_lock());
}

TEST(AsyncMutexStress, CoroutinesOnFourThreadsAndPlainThreadsCountUnderTheLock) {
  AsyncMutex<long> m(0);
  asio::io_context io;
  constexpr int kCoroutines = 32;
  constexpr int kRounds = 100;
  for (int c = 0; c < kCoroutines; ++c) {
    asio::co_spawn(
        io,
        [&]() -> asio::awaitable<void> {
          for (int i = 0; i < kRounds; ++i) {
            auto g = co_await lock(m);
            ++*g;
          }
        },
        asio::detached);
  }
  std::atomic<long> tries{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back([&] { io.run(); });
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        ++*m.lock_blocking();
        if (auto g = m.try_lock()) {
          ++**g;
          ++tries;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  auto g = m.try_lock();
  ASSERT_TRUE(g);
  EXPECT_EQ(**g, long{kCoroutines * kRounds + 2 * kRounds} + tries.load());
}

}  // namespace
}  // namespace ostrel_server::sync
