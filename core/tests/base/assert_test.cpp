#include "base/assert.hpp"

#include <gtest/gtest.h>

namespace ostrel_core {
namespace {

#ifdef NDEBUG

TEST(Assert, ReleaseBuildsNeverEvaluateTheCondition) {
  int evaluated = 0;
  OSTREL_ASSERT(++evaluated > 100);
  OSTREL_ASSERT(++evaluated == 1);
  EXPECT_EQ(evaluated, 0);
}

#else

TEST(Assert, CheckedBuildsEvaluateTheConditionOnce) {
  int evaluated = 0;
  OSTREL_ASSERT(++evaluated == 1);
  EXPECT_EQ(evaluated, 1);
}

TEST(AssertDeathTest, AFalseConditionStopsWithItsTextAndPlace) {
  const int blocks = 4097;
  EXPECT_DEATH(OSTREL_ASSERT(blocks <= 4096),
               "assertion failed: blocks <= 4096 \\(core/tests/base/assert_test\\.cpp:[0-9]+\\)");
}

#endif

}  // namespace
}  // namespace ostrel_core
