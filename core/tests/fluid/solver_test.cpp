#include "fluid/solver.hpp"

#include <limits>
#include <map>
#include <optional>
#include <set>

#include <gtest/gtest.h>

#include "fluid/step.hpp"

namespace ostrel_core::fluid::solver {
namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

// A neighbourhood of loose blocks: every block resident and empty unless said otherwise.
class Blocks final : public Neighbourhood {
 public:
  std::map<BlockPos, Fluid> states;
  std::set<BlockPos> washing;

  std::uint32_t absorbency(BlockPos, FluidId) override { return 0; }
  bool washes_away(BlockPos p) override { return washing.contains(p); }
  Fluid fluid(BlockPos p) override {
    auto it = states.find(p);
    return it == states.end() ? Fluid{} : it->second;
  }
  std::optional<std::uint32_t> occupancy(BlockPos) override { return 0; }
  bool set_fluid(BlockPos p, Fluid s) override {
    const Fluid old = fluid(p);
    if (s.is_wet()) {
      states[p] = s;
    } else {
      states.erase(p);
    }
    return old != s;
  }
};

TEST(Solver, TouchWakesTheBlockAndItsSixNeighboursOnce) {
  struct Case {
    const char* name;
    BlockPos at;
    std::size_t woken;
  };
  const Case cases[] = {
      {"origin", {0, 0, 0}, 7},
      {"negative", {-1, -17, 5}, 7},
      {"x at the top of the range", {kMax, 0, 0}, 6},     // +x saturates onto the block itself
      {"corner at the bottom", {kMin, kMin, kMin}, 4},    // three neighbours saturate
      {"corner at the top", {kMax, kMax, kMax}, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Solver s;
    s.touch(c.at);
    EXPECT_EQ(s.touched().size(), c.woken);
    s.touch(c.at);
    EXPECT_EQ(s.work_sets().touched, c.woken);
    EXPECT_TRUE(s.touched().contains(c.at));
  }
  Solver s;
  s.touch({3, 4, 5});
  const PosSet want = {{3, 4, 5}, {3, 3, 5}, {3, 5, 5}, {2, 4, 5}, {4, 4, 5}, {3, 4, 4}, {3, 4, 6}};
  EXPECT_EQ(s.touched(), want);
  EXPECT_FALSE(s.idle());
}

TEST(Solver, TakeDueAnswersEarlierStepsInOrderAndKeepsLaterOnes) {
  Solver s;
  const BlockPos a{1, 0, 0}, b{2, 0, 0}, c{3, 0, 0};
  s.defer(3, a);
  s.defer(5, b);
  s.defer(9, c);
  s.defer(9, c);  // once only
  EXPECT_EQ(s.work_sets().due, 3u);
  const auto sets = s.take_due(5);
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0], PosSet{a});
  EXPECT_EQ(sets[1], PosSet{b});
  EXPECT_EQ(s.work_sets().due, 1u);
  EXPECT_TRUE(s.take_due(8).empty());
  EXPECT_EQ(s.take_due(100), std::vector<PosSet>{PosSet{c}});
  EXPECT_TRUE(s.idle());
}

TEST(Solver, RoomAndSpaceFollowTheFloorRule) {
  struct Case {
    std::uint32_t occupancy, waterlogs_at, level;
    std::uint32_t room, space;
  };
  const Case cases[] = {
      {0, 14, 0, 27, 27},   // air
      {13, 14, 5, 14, 9},   // below the floor mark
      {14, 14, 0, 0, 0},    // at the mark: floor
      {27, 28, 0, 0, 0},    // more than 26 cells is always floor
      {26, 27, 1, 1, 0},    // one cell of room, full
      {0, 0, 0, 0, 0},      // a fluid that is floor at 0 never enters anything
      {5, 14, 25, 22, 0},   // more fluid than room: no space
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.occupancy << "/" << c.waterlogs_at << "/" << c.level);
    EXPECT_EQ(room(c.occupancy, c.waterlogs_at), c.room);
    EXPECT_EQ(space(room(c.occupancy, c.waterlogs_at), c.level), c.space);
  }
}

TEST(Transfer, MovesCellsCapsAtAFullBlockAndRecordsBothFlows) {
  struct Case {
    const char* name;
    Fluid source, target;
    std::uint32_t amount;
    Fluid source_after, target_after;
  };
  const Case cases[] = {
      {"all of it into a dry block", Fluid::of(1, 5), Fluid{}, 5, Fluid{}, Fluid::of(1, 5)},
      {"part of it", Fluid::of(1, 20), Fluid::of(1, 3), 7, Fluid::of(1, 13), Fluid::of(1, 10)},
      {"capped at a full block", Fluid::of(2, 10), Fluid::of(2, 25), 5, Fluid::of(2, 5), Fluid::of(2, 27)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Blocks n;
    Solver s;
    const BlockPos from{0, 0, 0}, into{1, 0, 0};
    n.set_fluid(from, c.source);
    n.set_fluid(into, c.target);
    std::vector<Flow> flows;
    transfer(n, from, into, c.source.id(), c.amount, true, flows, s);
    EXPECT_EQ(n.fluid(from), c.source_after);
    EXPECT_EQ(n.fluid(into), c.target_after);
    const std::vector<Flow> want = {{from, c.source, c.source_after}, {into, c.target, c.target_after}};
    EXPECT_EQ(flows, want);
    EXPECT_TRUE(s.washed().empty());
  }
}

TEST(Transfer, NotesAWashedTargetOnceAndOnlyForAWashingFluid) {
  Blocks n;
  Solver s;
  const BlockPos from{0, 0, 0}, into{0, -1, 0};
  n.washing.insert(into);
  n.set_fluid(from, Fluid::of(1, 20));
  std::vector<Flow> flows;
  transfer(n, from, into, 1, 2, false, flows, s);
  EXPECT_TRUE(s.washed().empty());
  transfer(n, from, into, 1, 2, true, flows, s);
  transfer(n, from, into, 1, 2, true, flows, s);
  EXPECT_EQ(s.washed(), std::vector<BlockPos>{into});
  EXPECT_EQ(s.take_washed(), std::vector<BlockPos>{into});
  transfer(n, from, into, 1, 2, true, flows, s);  // a fresh list after the take
  EXPECT_EQ(s.washed(), std::vector<BlockPos>{into});
}

TEST(TransferDeathTest, MovingMoreThanTheSourceHoldsStops) {
  Blocks n;
  Solver s;
  n.set_fluid({0, 0, 0}, Fluid::of(1, 3));
  std::vector<Flow> flows;
  EXPECT_DEATH(transfer(n, {0, 0, 0}, {1, 0, 0}, 1, 4, true, flows, s), "holds 3");
  n.set_fluid({1, 0, 0}, Fluid::of(2, 3));
  EXPECT_DEATH(transfer(n, {0, 0, 0}, {1, 0, 0}, 1, 1, true, flows, s), "holds fluid 2");
}

TEST(Step, EvaporationHashMatchesTheGoldenValues) {
  struct Case {
    std::uint64_t step;
    BlockPos block;
    std::uint64_t seed;
    std::uint64_t hash;
  };
  const Case cases[] = {
      {0, {0, 0, 0}, 0, 0xe220a8397b1dcdafull},
      {1, {0, 0, 0}, 0, 0xa7b77319d39f7883ull},
      {4, {1, 2, 3}, 7, 0x5e52d0f085695005ull},
      {123456, {-1, -1, -1}, 0xdeadbeefcafef00dull, 0x9c89fbaf9c6f4964ull},
      {50, {-17, 64, 300}, 42, 0x4160011e64345c48ull},
      {~0ull, {kMax, kMin, 0}, ~0ull, 0x0cd7ba764277b629ull},
      {7, {kMin, kMax, kMin}, 1, 0x94074d1d0fdb17c1ull},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.step << " " << c.block.x << "," << c.block.y << "," << c.block.z);
    EXPECT_EQ(step::evaporation_hash(c.step, c.block, c.seed), c.hash);
  }
}

TEST(Step, TurnOrderStartsAtTheUnsignedSumOfTheCoordinates) {
  struct Case {
    BlockPos p;
    unsigned start;
  };
  const Case cases[] = {
      {{0, 0, 0}, 0}, {{0, 1, 0}, 1}, {{1, 1, 1}, 3}, {{-1, 0, 0}, 3},
      {{kMax, 1, 0}, 0},  // 0x7FFFFFFF + 1 = 0x80000000: wraps as an unsigned word
      {{kMin, kMin, 0}, 0}, {{kMax, kMax, kMax}, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(step::turn_start(c.p), c.start) << c.p.x << "," << c.p.y << "," << c.p.z;
}

}  // namespace
}  // namespace ostrel_core::fluid::solver
