#include "base/sync.hpp"

#include <stdexcept>

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace ostrel_core::sync
