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

}  // namespace
}  // namespace ostrel_core::sync
