#include "base/num.hpp"

#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace ostrel_core::num {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
// 17 significant digits, then zeros up to 309 digits.
const std::string kMaxDouble = "17976931348623157" + std::string(309 - 17, '0');

TEST(Saturate, TruncatesAndClampsAtTheBounds) {
  struct Case {
    double in;
    std::int32_t want;
  };
  constexpr Case kCases[] = {
      {0.0, 0},          {1.9, 1},          {-1.9, -1},         {kNaN, 0},
      {kInf, INT32_MAX}, {-kInf, INT32_MIN}, {3e9, INT32_MAX},  {-3e9, INT32_MIN},
      {2147483647.0, INT32_MAX}, {-2147483648.0, INT32_MIN},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(saturate<std::int32_t>(c.in), c.want);
  }
  EXPECT_EQ(saturate<std::uint8_t>(-5.0), 0);
  EXPECT_EQ(saturate<std::uint8_t>(300.5f), 255);
  EXPECT_EQ(saturate<std::uint64_t>(1.8446744073709552e19), UINT64_MAX);
  EXPECT_EQ(saturate<std::int64_t>(9.3e18), INT64_MAX);
  EXPECT_EQ(saturate<std::int64_t>(-9.3e18), INT64_MIN);
  EXPECT_EQ(saturate_floor<std::int32_t>(-0.5), -1);
  EXPECT_EQ(saturate_floor<std::int32_t>(15.999), 15);
}

TEST(ClampI32, HoldsSixtyFourBitValuesToTheThirtyTwoBitRange) {
  static_assert(clamp_i32(0) == 0);
  EXPECT_EQ(clamp_i32(-5), -5);
  EXPECT_EQ(clamp_i32(std::int64_t{INT32_MAX}), INT32_MAX);
  EXPECT_EQ(clamp_i32(std::int64_t{INT32_MAX} + 1), INT32_MAX);
  EXPECT_EQ(clamp_i32(std::int64_t{INT32_MIN}), INT32_MIN);
  EXPECT_EQ(clamp_i32(std::int64_t{INT32_MIN} - 1), INT32_MIN);
  EXPECT_EQ(clamp_i32(INT64_MAX), INT32_MAX);
  EXPECT_EQ(clamp_i32(INT64_MIN), INT32_MIN);
}

TEST(FormatNumber, ShortestFormWithoutExponent) {
  struct Case {
    double in;
    std::string want;
  };
  const Case kCases[] = {
      {1.5, "1.5"},        {2.0, "2"},          {-0.25, "-0.25"},
      {1e20, "100000000000000000000"},          {1e-7, "0.0000001"},
      {-1.5e-5, "-0.000015"}, {123456.789, "123456.789"}, {kNaN, "NaN"},
      {kInf, "inf"},       {-kInf, "-inf"},     {0.0, "0"},
      {1.7976931348623157e308, kMaxDouble},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.want);
    EXPECT_EQ(format_number(c.in), c.want);
  }
  EXPECT_EQ(format_number(0.1f), "0.1");
  EXPECT_EQ(format_number(16777216.0f), "16777216");
}

}  // namespace
}  // namespace ostrel_core::num
