#include "base/once_cell.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace ostrel_core::sync {
namespace {

TEST(SetOnce, SecondSetIsRefusedAndTheFirstValueStays) {
  SetOnce<std::shared_ptr<int>> cell;
  EXPECT_EQ(cell.get(), nullptr);
  EXPECT_TRUE(cell.set(std::make_shared<int>(1)));
  EXPECT_FALSE(cell.set(std::make_shared<int>(2)));
  ASSERT_NE(cell.get(), nullptr);
  EXPECT_EQ(**cell.get(), 1);
}

TEST(SetOnceStress, OneOfManyRacingSettersWinsAndReadersSeeItWhole) {
  struct Big {
    int a, b, c, d;
  };
  for (int round = 0; round < 50; ++round) {
    SetOnce<Big> cell;
    std::atomic<int> winners{0};
    std::atomic<bool> torn{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
      threads.emplace_back([&, i] {
        if (cell.set(Big{i, i, i, i})) ++winners;
      });
      threads.emplace_back([&] {
        for (int k = 0; k < 200; ++k) {
          if (const Big* v = cell.get(); v && (v->a != v->b || v->c != v->d || v->a != v->d)) torn = true;
        }
      });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(winners, 1);
    EXPECT_FALSE(torn);
    EXPECT_NE(cell.get(), nullptr);
  }
}

}  // namespace
}  // namespace ostrel_core::sync
