#include "fluid/fluid.hpp"

#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

namespace ostrel_core::fluid {
namespace {

Registered named(std::string name, std::uint16_t material = 7) {
  Registered r;
  r.name = std::move(name);
  r.material = material;
  return r;
}

// Fifteen fluids "m:f01".."m:f15" in name order.
Fluids full_registry() {
  Fluids fluids;
  for (int i = 1; i <= 15; ++i) {
    auto id = fluids.register_fluid(named(fmt::format("m:f{:02}", i)));
    EXPECT_TRUE(id.has_value());
  }
  return fluids;
}

TEST(FluidState, WetOnlyForLevelAndIdInRange) {
  struct Case {
    std::uint16_t bits;
    bool wet;
  };
  constexpr Case kCases[] = {
      {0x0000, false},  // no fluid
      {0x0025, true},   // id 1, level 5
      {0x01FB, true},   // id 15, level 27: the largest state
      {0x0021, true},   // id 1, level 1
      {0x0020, false},  // id 1, level 0
      {0x001B, false},  // level 27, id 0
      {0x003C, false},  // id 1, level 28
      {0x003F, false},  // id 1, level 31
      {0x0200, false},  // bit 9 only
      {0x0221, false},  // id 1, level 1, bit 9: ids have four bits
      {0x1021, false},  // bit 12
      {0x8021, false},  // bit 15
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.bits);
    const Fluid f{c.bits};
    EXPECT_EQ(f.is_wet(), c.wet);
    EXPECT_EQ(f.is_state(), c.wet || c.bits == 0);
  }
}

TEST(FluidState, OfPacksIdAndLevel) {
  EXPECT_EQ(Fluid::of(1, 5).bits, 0x0025);
  EXPECT_EQ(Fluid::of(15, 27).bits, 0x01FB);
  const Fluid f = Fluid::of(9, 14);
  EXPECT_EQ(f.id(), 9);
  EXPECT_EQ(f.level(), 14);
}

TEST(Fluids, IdsFollowRegistrationAndSixteenthIsFull) {
  Fluids fluids = full_registry();
  ASSERT_EQ(fluids.size(), 15u);
  EXPECT_EQ(fluids.id_of("m:f01"), FluidId{1});
  EXPECT_EQ(fluids.id_of("m:f15"), FluidId{15});
  EXPECT_EQ(fluids.get(15)->name, "m:f15");

  auto sixteenth = fluids.register_fluid(named("m:f16"));
  ASSERT_FALSE(sixteenth.has_value());
  EXPECT_EQ(sixteenth.error().kind, RegisterErrorKind::Full);
  EXPECT_EQ(sixteenth.error().message(),
            "cannot register m:f16: only 15 fluids fit in a block's four id bits");
  EXPECT_EQ(sixteenth.error().debug(), "Full { name: \"m:f16\" }");
  EXPECT_EQ(fluids.size(), 15u);
  EXPECT_EQ(fluids.id_of("m:f16"), std::nullopt);

  auto placeholder = fluids.register_placeholder("old:lava");
  ASSERT_FALSE(placeholder.has_value());
  EXPECT_EQ(placeholder.error().kind, RegisterErrorKind::Full);
}

TEST(Fluids, DuplicateIsCheckedBeforeFull) {
  Fluids one;
  ASSERT_TRUE(one.register_fluid(named("m:water")).has_value());
  Fluids full = full_registry();
  struct Case {
    const char* name;
    Fluids* fluids;
    const char* dup;
  };
  Case cases[] = {{"one_entry", &one, "m:water"}, {"full", &full, "m:f03"}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto before = c.fluids->size();
    auto again = c.fluids->register_fluid(named(c.dup));
    ASSERT_FALSE(again.has_value());
    EXPECT_EQ(again.error().kind, RegisterErrorKind::Duplicate);
    EXPECT_EQ(again.error().message(), fmt::format("a fluid named {} is already registered", c.dup));
    EXPECT_EQ(again.error().debug(), fmt::format("Duplicate {{ name: \"{}\" }}", c.dup));
    auto placeholder = c.fluids->register_placeholder(c.dup);
    ASSERT_FALSE(placeholder.has_value());
    EXPECT_EQ(placeholder.error().kind, RegisterErrorKind::Duplicate);
    EXPECT_EQ(c.fluids->size(), before);
  }
}

TEST(Fluids, PlaceholderComesAfterRegisteredAndIsAir) {
  Fluids fluids;
  ASSERT_EQ(fluids.register_fluid(named("m:water", 12)), FluidId{1});
  ASSERT_EQ(fluids.register_fluid(named("m:oil", 13)), FluidId{2});
  auto id = fluids.register_placeholder("gone:lava");
  ASSERT_EQ(id, FluidId{3});

  EXPECT_TRUE(fluids.is_placeholder(3));
  EXPECT_FALSE(fluids.is_placeholder(1));
  EXPECT_FALSE(fluids.is_placeholder(2));
  EXPECT_FALSE(fluids.is_placeholder(4));
  EXPECT_EQ(fluids.id_of("gone:lava"), FluidId{3});
  EXPECT_EQ(fluids.id_of("nothing:here"), std::nullopt);

  Registered want;
  want.name = "gone:lava";
  want.waterlogs_at = 1;
  EXPECT_EQ(*fluids.get(3), want);
  EXPECT_EQ(fluids.get(3)->material, 0);
  ASSERT_EQ(fluids.placeholders().size(), 1u);
  EXPECT_EQ(fluids.placeholders()[0], 3);
  EXPECT_EQ(fluids.get(0), nullptr);
  EXPECT_EQ(fluids.get(4), nullptr);
}

TEST(Fluids, CopiesAreIndependent) {
  Fluids a;
  ASSERT_TRUE(a.register_fluid(named("m:water")).has_value());
  Fluids b = a;
  ASSERT_TRUE(b.register_placeholder("gone:lava").has_value());
  EXPECT_EQ(a.size(), 1u);
  EXPECT_FALSE(a.is_placeholder(2));
  EXPECT_EQ(a.id_of("gone:lava"), std::nullopt);
  EXPECT_EQ(b.size(), 2u);
  EXPECT_TRUE(b.is_placeholder(2));
}

}  // namespace
}  // namespace ostrel_core::fluid
