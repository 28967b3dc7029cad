#include <gtest/gtest.h>

#include "detgen/golden_battery.hpp"

namespace ostrel_core::detgen::golden {
namespace {

TEST(GoldenBattery, DigestIsTheCommittedOne) {
  EXPECT_EQ(digest_hex(), kDigest);
  // Two runs in one process agree: nothing in the battery depends on earlier state.
  EXPECT_EQ(battery(), battery());
}

}  // namespace
}  // namespace ostrel_core::detgen::golden
