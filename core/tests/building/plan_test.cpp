#include "building/plan.hpp"

#include <gtest/gtest.h>

namespace ostrel_core::plan {
namespace {

TEST(Plan, SetChecksExtentsBeforeTheMaskAndAppends) {
  Plan p{.w = 2, .h = 1, .d = 3};
  auto out = p.set(2, 0, 0, "m:stone", 0);
  ASSERT_FALSE(out);
  EXPECT_EQ(out.error().kind, PlanErrorKind::OutOfBounds);
  EXPECT_EQ(out.error().x, 2);
  EXPECT_EQ(out.error().w, 2u);
  EXPECT_EQ(out.error().message(), "refused");

  ASSERT_TRUE(p.set(1, 0, 2, "m:stone", 0));  // a 0 mask records nothing
  EXPECT_TRUE(p.cells.empty());
  ASSERT_TRUE(p.set(1, 0, 2, "m:stone", 0xFFFFFFFF));
  ASSERT_TRUE(p.set(1, 0, 2, "m:dirt", 4));
  ASSERT_TRUE(p.set(1, 0, 2, "m:stone", 3));  // never merged
  EXPECT_EQ(p.palette, (std::vector<std::string>{"m:stone", "m:dirt"}));
  EXPECT_EQ(p.cells, (std::vector<PlanEntry>{{5, 0, 0x7FFFFFF}, {5, 1, 4}, {5, 0, 3}}));
  EXPECT_EQ(p.unpacked(1), (PlanCell{1, 0, 2, 1, 4}));
  EXPECT_EQ(p.damage(), std::nullopt);
}

TEST(Plan, TheEntryLimit) {
  Plan p{.w = 64, .h = 64, .d = 64};
  for (std::uint32_t i = 0; i < kMaxCells; ++i) {
    ASSERT_TRUE(p.set(static_cast<std::uint16_t>(i % 64), static_cast<std::uint16_t>(i / 64 % 64),
                      static_cast<std::uint16_t>(i / 4096), "m:stone", 1));
  }
  auto out = p.set(0, 0, 63, "m:stone", 1);
  ASSERT_FALSE(out);
  EXPECT_EQ(out.error().kind, PlanErrorKind::TooManyBlocks);
  EXPECT_EQ(out.error().message(), "too many blocks");
}

TEST(Plan, TallyCountsUnitsByName) {
  Plan p{.w = 2, .h = 1, .d = 1};
  ASSERT_TRUE(p.set(0, 0, 0, "m:stone", 0x7FFFFFF));
  ASSERT_TRUE(p.set(1, 0, 0, "m:dirt", 1u << 13));
  p.cells.push_back({1, 9, 0x7FFFFFF});  // beyond the palette: skipped
  EXPECT_EQ(p.tally(), (std::map<std::string, std::uint32_t>{{"m:dirt", 1}, {"m:stone", 27}}));
}

TEST(Plan, DamageOfStoredPlans) {
  struct Case {
    const char* name;
    Plan plan;
    bool damaged;
  };
  const Case cases[] = {
      {"sound", {1, 1, 1, {"a"}, {{0, 0, 1}}}, false},
      {"empty and flat", {0, 0, 0, {}, {}}, false},
      {"w 0 with a cell", {0, 1, 1, {"a"}, {{0, 0, 1}}}, true},
      {"index past the box", {2, 2, 2, {"a"}, {{8, 0, 1}}}, true},
      {"palette entry past the palette", {2, 2, 2, {"a"}, {{7, 1, 1}}}, true},
      {"extent over 64", {65, 1, 1, {}, {}}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.plan.damage().has_value(), c.damaged);
  }
  Plan many{1, 1, 1, {"a"}, std::vector<PlanEntry>(kMaxCells + 1, PlanEntry{0, 0, 1})};
  EXPECT_TRUE(many.damage().has_value());
}

TEST(Plan, ReasonTexts) {
  const std::pair<PlanErrorKind, const char*> cases[] = {
      {PlanErrorKind::TooBig, "too big"},      {PlanErrorKind::TooManyBlocks, "too many blocks"},
      {PlanErrorKind::OutOfBounds, "refused"}, {PlanErrorKind::PaletteFull, "refused"},
      {PlanErrorKind::NoWorld, "no world"},    {PlanErrorKind::NotLoaded, "not loaded"},
  };
  for (const auto& [k, t] : cases) EXPECT_EQ(PlanError{.kind = k}.message(), t);
}

}  // namespace
}  // namespace ostrel_core::plan
