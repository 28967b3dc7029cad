#include "base/sync.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace ostrel_core::sync {
namespace {

TEST(PoisonMutex, FailureUnwindingThroughGuardPoisons) {
  Mutex<int> m(1);
  {
    auto g = m.lock();
    ASSERT_TRUE(g);
    **g = 2;
  }
  EXPECT_EQ(**m.lock(), 2);
  EXPECT_THROW(
      {
        auto g = m.lock();
        **g = 3;
        throw std::runtime_error("boom");
      },
      std::runtime_error);
  EXPECT_FALSE(m.lock());
  EXPECT_FALSE(m.try_lock());
  EXPECT_TRUE(m.is_poisoned());
}

TEST(PoisonMutex, TryLockFailsWhileHeld) {
  Mutex<int> m(0);
  auto g = m.lock();
  ASSERT_TRUE(g);
  EXPECT_FALSE(m.try_lock());
}

TEST(PoisonRwLock, ReadersShareWritersExclude) {
  RwLock<int> l(5);
  auto r1 = l.read();
  auto r2 = l.try_read();
  ASSERT_TRUE(r1);
  ASSERT_TRUE(r2);
  EXPECT_EQ(**r2, 5);
  EXPECT_FALSE(l.try_write());
  r1.reset();
  r2.reset();
  auto w = l.try_write();
  ASSERT_TRUE(w);
  **w = 6;
  EXPECT_FALSE(l.try_read());
  w.reset();
  EXPECT_EQ(**l.read(), 6);
}

TEST(PoisonRwLock, OnlyAFailingWriterPoisons) {
  RwLock<int> l(1);
  EXPECT_THROW(
      {
        auto r = l.read();
        throw std::runtime_error("reader failed");
      },
      std::runtime_error);
  EXPECT_FALSE(l.is_poisoned());
  ASSERT_TRUE(l.write());

  EXPECT_THROW(
      {
        auto w = l.write();
        **w = 2;
        throw std::runtime_error("writer failed");
      },
      std::runtime_error);
  EXPECT_TRUE(l.is_poisoned());
  EXPECT_FALSE(l.read());
  EXPECT_FALSE(l.try_read());
  EXPECT_FALSE(l.write());
  EXPECT_FALSE(l.try_write());
}

TEST(SyncStress, RwLockWritersAndReadersSeeWholeUpdates) {
  // Writers keep the two halves equal; a reader that ever saw them differ saw a torn update.
  struct Pair {
    long a = 0;
    long b = 0;
  };
  RwLock<Pair> l;
  std::atomic<bool> torn{false};
  std::vector<std::thread> threads;
  for (int w = 0; w < 4; ++w) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        auto g = l.write();
        ++(*g)->a;
        ++(*g)->b;
      }
    });
  }
  for (int r = 0; r < 4; ++r) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        auto g = l.read();
        if ((*g)->a != (*g)->b) torn = true;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_FALSE(torn);
  EXPECT_EQ((*l.read())->a, 8000);
}

TEST(PoisonMutexStress, EveryGuardedIncrementLands) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  Mutex<long> m(0);
  std::atomic<long> by_try{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        if (t % 2 == 1) {
          if (auto g = m.try_lock()) {
            ++**g;
            by_try.fetch_add(1, std::memory_order_relaxed);
            continue;
          }
        }
        auto g = m.lock();
        ASSERT_TRUE(g);
        ++**g;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(**m.lock(), long{kThreads} * kRounds);
  EXPECT_FALSE(m.is_poisoned());
}

TEST(PoisonMutexStress, PoisonStaysForEveryLaterLocker) {
  constexpr int kThreads = 4;
  Mutex<int> m(0);
  std::atomic<bool> thrown{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      bool seen_poison = false;
      for (int i = 0; i < 2000; ++i) {
        if (t == 0 && i == 500) {
          try {
            auto g = m.lock();
            ASSERT_TRUE(g);
            throw std::runtime_error("boom");
          } catch (const std::runtime_error&) {
            thrown = true;
          }
          continue;
        }
        auto g = (i % 2 == 0) ? m.lock() : m.try_lock();
        if (g) {
          // Once a thread saw the lock poisoned, it never gets a guard again.
          ASSERT_FALSE(seen_poison) << "thread " << t << " round " << i;
          ++**g;
        } else if (i % 2 == 0 || m.is_poisoned()) {
          seen_poison = true;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_TRUE(thrown);
  EXPECT_TRUE(m.is_poisoned());
  EXPECT_FALSE(m.lock());
}

}  // namespace
}  // namespace ostrel_core::sync
