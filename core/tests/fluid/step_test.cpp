#include "fluid/step.hpp"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include <gtest/gtest.h>

namespace ostrel_core::fluid::step {
namespace {

using coords::ChunkPos;
using solver::Flow;
using solver::Neighbourhood;
using solver::Solver;
using solver::Tuning;
using solver::Tunings;

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr FluidId kWater = 1;
constexpr FluidId kLava = 2;

// Loose blocks: resident and empty unless given terrain, fluid, a drink rule or a chunk that
// is away.
class Grid final : public Neighbourhood {
 public:
  std::map<BlockPos, std::uint32_t> terrain;  // occupied cells of a block
  std::map<BlockPos, Fluid> fluids;
  std::map<BlockPos, std::pair<std::optional<FluidId>, std::uint32_t>> drinks;  // fluid (none: any), rate
  std::set<BlockPos> washing;
  std::set<ChunkPos> away;

  // Whole blocks of terrain over a box, both corners included.
  void wall(BlockPos lo, BlockPos hi, std::uint32_t cells = 27) {
    for (std::int64_t x = lo.x; x <= hi.x; ++x)
      for (std::int64_t y = lo.y; y <= hi.y; ++y)
        for (std::int64_t z = lo.z; z <= hi.z; ++z)
          terrain[{static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), static_cast<std::int32_t>(z)}] =
              cells;
  }
  void pour(BlockPos p, FluidId id, std::uint8_t level) { fluids[p] = Fluid::of(id, level); }
  std::uint32_t level(BlockPos p) { return fluid(p).level(); }
  std::uint64_t volume() const {
    std::uint64_t v = 0;
    for (const auto& [p, s] : fluids) v += s.level();
    return v;
  }

  std::uint32_t absorbency(BlockPos p, FluidId f) override {
    auto it = drinks.find(p);
    if (it == drinks.end() || (it->second.first && *it->second.first != f)) return 0;
    return it->second.second;
  }
  bool washes_away(BlockPos p) override { return washing.contains(p); }
  Fluid fluid(BlockPos p) override {
    auto it = fluids.find(p);
    return it == fluids.end() ? Fluid{} : it->second;
  }
  std::optional<std::uint32_t> occupancy(BlockPos p) override {
    if (away.contains(p.chunk())) return std::nullopt;
    auto it = terrain.find(p);
    return it == terrain.end() ? 0 : it->second;
  }
  bool set_fluid(BlockPos p, Fluid s) override {
    const Fluid old = fluid(p);
    if (s.is_wet()) {
      fluids[p] = s;
    } else {
      fluids.erase(p);
    }
    return old != s;
  }
};

Tunings only(std::initializer_list<std::pair<FluidId, Tuning>> slots) {
  Tunings t;
  for (const auto& [id, tuning] : slots) {
    t.slots[id] = tuning;
    t.enabled[id] = true;
  }
  return t;
}

const Tunings kPlain = Tunings::uniform(Tuning{});

std::vector<Flow> run(Solver& s, Grid& g, std::uint64_t at, const Tunings& t = kPlain, std::uint64_t seed = 0) {
  std::vector<Flow> flows;
  advance(s, t, g, at, seed, flows);
  return flows;
}

bool mentions(const std::vector<Flow>& flows, BlockPos p) {
  for (const Flow& f : flows) {
    if (f.pos == p) return true;
  }
  return false;
}

TEST(FluidStep, AFullBlockOnAFloorSpreadsInTurnOrderThenSettles) {
  Grid g;
  g.wall({-12, 0, -12}, {12, 0, 12});
  const BlockPos p{0, 1, 0};  // turn order +x, -z, +z, -x
  g.pour(p, kWater, 27);
  Solver s;
  s.wake(p);
  const auto flows = run(s, g, 0);
  EXPECT_EQ(g.level(p), 2u);
  EXPECT_EQ(g.level({1, 1, 0}), 13u);
  EXPECT_EQ(g.level({0, 1, -1}), 7u);
  EXPECT_EQ(g.level({0, 1, 1}), 3u);
  EXPECT_EQ(g.level({-1, 1, 0}), 2u);
  EXPECT_EQ(flows.size(), 8u);  // four transfers, two flows each
  // Changes wake their neighbours for the next step, not this one.
  EXPECT_EQ(g.level({2, 1, 0}), 0u);
  EXPECT_TRUE(s.touched().contains({2, 1, 0}));

  for (std::uint64_t step = 1; step < 400 && !s.idle(); ++step) run(s, g, step);
  EXPECT_TRUE(s.idle());
  EXPECT_EQ(g.volume(), 27u);
  for (const auto& [q, state] : g.fluids) {
    for (const BlockPos n : {BlockPos{q.x + 1, q.y, q.z}, BlockPos{q.x - 1, q.y, q.z}, BlockPos{q.x, q.y, q.z + 1},
                             BlockPos{q.x, q.y, q.z - 1}}) {
      EXPECT_LE(state.level(), g.level(n) + 1) << q.x << "," << q.z;
    }
  }
}

TEST(FluidStep, SlowFluidsWaitForTheirStep) {
  {
    SCOPED_TRACE("only fluids of rate 4: steps 1 to 3 do nothing");
    const Tunings t = only({{kWater, Tuning{14, 0, 4, true}}});
    Grid g;
    g.pour({0, 5, 0}, kWater, 27);
    Solver s;
    s.touch({0, 5, 0});
    const auto before = s.work_sets();
    for (std::uint64_t step = 1; step <= 3; ++step) {
      EXPECT_TRUE(run(s, g, step, t).empty());
      EXPECT_EQ(s.work_sets(), before);
    }
    EXPECT_EQ(g.level({0, 5, 0}), 27u);
    EXPECT_FALSE(run(s, g, 4, t).empty());
    EXPECT_EQ(g.level({0, 4, 0}), 27u);  // it fell
  }
  {
    SCOPED_TRACE("rate 3 woken at step 7 waits for step 9");
    const Tunings t = only({{kWater, Tuning{14, 0, 3, true}}, {kLava, Tuning{}}});
    Grid g;
    g.pour({0, 5, 0}, kWater, 27);
    Solver s;
    s.wake({0, 5, 0});
    EXPECT_TRUE(run(s, g, 7, t).empty());
    EXPECT_EQ(s.work_sets().due, 1u);
    EXPECT_TRUE(run(s, g, 8, t).empty());
    EXPECT_FALSE(run(s, g, 9, t).empty());
    EXPECT_EQ(g.level({0, 4, 0}), 27u);
  }
  {
    SCOPED_TRACE("a dry position waits for a step at which every fluid is due");
    const Tunings t = only({{kWater, Tuning{14, 0, 2, true}}, {kLava, Tuning{14, 0, 3, true}}});
    Grid g;
    Solver s;
    s.wake({0, 0, 0});
    run(s, g, 2, t);  // only water is due at 2
    EXPECT_EQ(s.work_sets().due, 1u);
    EXPECT_EQ(s.take_due(5).size(), 0u);
    EXPECT_EQ(s.take_due(6).size(), 1u);  // 6 is the next step both are due
  }
}

TEST(FluidStep, TheLastCellsCreepOverAnEdge) {
  Grid g;
  g.wall({-2, 0, -2}, {2, 0, 2});
  g.terrain.erase({0, 0, -1});  // drops beside the block: -z comes before +z in (0, 1, 0)'s turns
  g.terrain.erase({0, 0, 1});
  g.pour({0, 1, 0}, kWater, 1);
  Solver s;
  s.touch({0, 1, 0});
  run(s, g, 0);
  EXPECT_EQ(g.level({0, 1, 0}), 0u);
  EXPECT_EQ(g.level({0, 1, -1}), 1u);
  EXPECT_EQ(g.level({0, 1, 1}), 0u);
}

TEST(FluidStep, FluidPushedOutOfAFilledBlockGoesDownThenSidewaysAndTheRestIsLost) {
  struct Case {
    const char* name;
    bool open_below;
    std::uint32_t below, side, lost;
  };
  const Case cases[] = {{"open below", true, 27, 0, 0}, {"boxed in", false, 0, 7, 20}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Grid g;
    const BlockPos p{0, 1, 0};  // turn order +x, -z, +z, -x
    g.wall({-1, 0, -1}, {1, 0, 1});
    if (c.open_below) g.terrain.erase({0, 0, 0});
    g.wall({0, 1, -1}, {0, 1, -1});
    g.wall({0, 1, 1}, {0, 1, 1});
    g.pour({1, 1, 0}, kWater, 20);  // room for 7
    g.pour({-1, 1, 0}, kLava, 5);   // another fluid: takes nothing
    g.pour(p, kWater, 27);
    g.terrain[p] = 27;  // a player built into it
    Solver s;
    s.wake(p);
    const auto flows = run(s, g, 0);
    EXPECT_EQ(g.level(p), 0u);
    EXPECT_EQ(g.level({0, 0, 0}), c.below);
    EXPECT_EQ(g.level({1, 1, 0}), 20 + c.side);
    EXPECT_EQ(g.fluid({-1, 1, 0}), Fluid::of(kLava, 5));
    EXPECT_EQ(g.volume(), 27u + 20 + 5 - c.lost);
    EXPECT_TRUE(mentions(flows, p));
  }
}

TEST(FluidStep, FluidBesideAnotherFluidReportsBlockedFlows) {
  Grid g;
  g.wall({-1, -1, -1}, {1, -1, 1});
  g.pour({0, 0, 0}, kWater, 10);
  g.pour({1, 0, 0}, kLava, 9);
  g.pour({0, -1, 0}, kLava, 27);  // below, in a pit of the floor
  g.terrain.erase({0, -1, 0});
  g.wall({-1, 0, 0}, {-1, 0, 0});  // a wall: blocked without meeting
  Solver s;
  s.wake({0, 0, 0});
  run(s, g, 0);
  const auto blocked = s.take_blocked();
  const std::vector<solver::Blocked> want = {
      {{0, 0, 0}, {-1, 0, 0}, 10, kWater, false, 0},
      {{0, 0, 0}, {1, 0, 0}, 10, kWater, true, kLava},
      {{0, 0, 0}, {0, -1, 0}, 10, kWater, true, kLava},
  };
  EXPECT_EQ(blocked, want);
  EXPECT_EQ(g.fluid({1, 0, 0}), Fluid::of(kLava, 9));
  EXPECT_EQ(g.fluid({0, -1, 0}), Fluid::of(kLava, 27));

  SCOPED_TRACE("a single cell presses on nothing");
  Grid h;
  h.pour({0, 0, 0}, kWater, 1);
  h.pour({1, 0, 0}, kLava, 9);
  Solver one;
  one.wake({0, 0, 0});
  run(one, h, 0);
  EXPECT_TRUE(one.blocked().empty());
}

TEST(FluidStep, AStepLeavesAtMost64BlockedFlows) {
  Grid g;
  for (std::int32_t x = 0; x < 200; x += 2) {
    g.pour({x, 0, 0}, kWater, 27);
    g.pour({x + 1, 0, 0}, kLava, 27);
  }
  g.wall({0, -1, 0}, {200, -1, 0});
  Solver s;
  for (const auto& [p, state] : g.fluids) s.wake(p);
  run(s, g, 0);
  EXPECT_EQ(s.blocked().size(), solver::kMaxBlocked);
  for (const auto& b : s.blocked()) EXPECT_TRUE(b.meets);
}

TEST(FluidStep, AStepTakesAtMost4096AndProcessesAtMost512) {
  {
    SCOPED_TRACE("512 processed");
    Grid g;
    Solver s;
    for (std::int32_t i = 0; i < 5000; ++i) s.wake({i, 0, 0});
    run(s, g, 0);
    EXPECT_EQ(s.work_sets().queued, 5000u - kMaxProcessed);
    EXPECT_EQ(s.work_sets().touched, 0u);
  }
  {
    SCOPED_TRACE("4096 taken when the fluid is not due");
    const Tunings t = only({{kWater, Tuning{}}, {kLava, Tuning{14, 0, 2, true}}});
    Grid g;
    Solver s;
    for (std::int32_t i = 0; i < 5000; ++i) {
      g.pour({i, 0, 0}, kLava, 27);
      s.wake({i, 0, 0});
    }
    run(s, g, 1, t);
    EXPECT_EQ(s.work_sets().queued, 5000u - kMaxTaken);
    EXPECT_EQ(s.work_sets().due, kMaxTaken);
  }
  {
    SCOPED_TRACE("what is left goes before later wakes");
    Grid g;
    Solver s;
    for (std::int32_t i = 0; i < 5000; ++i) s.wake({i, 0, 0});
    run(s, g, 0);
    const BlockPos late{0, 50, 0};
    g.pour(late, kWater, 27);
    s.touch(late);
    std::uint64_t moved_at = 0;
    for (std::uint64_t step = 1; step < 20 && moved_at == 0; ++step) {
      if (mentions(run(s, g, step), late)) moved_at = step;
    }
    EXPECT_EQ(moved_at, 9u);  // steps 0 to 8 process 4,608 of the 5,000 first
  }
}

TEST(FluidStep, AnOpenBlockEvaporatesExactlyWhenItsHashSaysSo) {
  const std::uint64_t seed = 0x1234;
  const Tunings t = only({{kWater, Tuning{14, 3, 1, true}}});
  Grid g;
  const BlockPos p{5, 1, -3};
  g.wall({4, 0, -4}, {6, 1, -2});  // a one-block pit
  g.terrain.erase(p);
  g.pour(p, kWater, 27);
  Solver s;
  s.touch(p);
  std::uint32_t level = 27;
  for (std::uint64_t step = 0; step < 40; ++step) {
    run(s, g, step, t, seed);
    if (evaporation_hash(step, p, seed) % 3 == 0) --level;
    ASSERT_EQ(g.level(p), level) << "step " << step;
  }
  EXPECT_LT(level, 27u);
  EXPECT_TRUE(s.exposed().contains(p));

  SCOPED_TRACE("covered: not exposed, never evaporates");
  g.terrain[{5, 2, -3}] = 27;
  s.touch(p);
  run(s, g, 40, t, seed);
  EXPECT_FALSE(s.exposed().contains(p));
  for (std::uint64_t step = 41; step < 80; ++step) run(s, g, step, t, seed);
  EXPECT_EQ(g.level(p), level);
}

TEST(FluidStep, AbsorbentBlocksDrinkTheirFluid) {
  struct Case {
    const char* name;
    std::optional<FluidId> drinks;
    std::uint32_t rate;
    std::uint32_t left;
  };
  const Case cases[] = {
      {"its fluid", kWater, 4, 6},
      {"any fluid", std::nullopt, 4, 6},
      {"another fluid", kLava, 4, 10},
      {"more than there is", kWater, 30, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Grid g;
    const BlockPos p{0, 1, 0};
    g.wall({-1, 0, -1}, {1, 1, 1});
    g.terrain.erase(p);
    g.drinks[{0, 0, 0}] = {c.drinks, c.rate};
    g.pour(p, kWater, 10);
    Solver s;
    s.touch(p);
    run(s, g, 0);
    EXPECT_EQ(g.level(p), c.left);
    if (c.left == 10) {
      EXPECT_TRUE(s.absorbed().empty());
    } else {
      EXPECT_EQ(s.take_absorbed(), (std::vector<solver::Absorbed>{{{0, 0, 0}, 10 - c.left, kWater}}));
    }
  }
}

TEST(FluidStep, FlowsIntoWashingBlocksListThemOnce) {
  auto pond = [] {
    Grid g;
    g.wall({-1, 0, -1}, {1, 0, 1});
    g.washing = {{1, 1, 0}, {0, 1, 1}};
    g.pour({0, 1, 0}, kWater, 27);
    return g;
  };
  Grid g = pond();
  Solver s;
  s.touch({0, 1, 0});
  run(s, g, 0);
  run(s, g, 1);
  std::vector<BlockPos> washed = s.take_washed();
  std::sort(washed.begin(), washed.end());
  EXPECT_EQ(washed, (std::vector<BlockPos>{{0, 1, 1}, {1, 1, 0}}));

  const Tunings dry = only({{kWater, Tuning{14, 0, 1, false}}});
  Grid h = pond();
  Solver quiet;
  quiet.touch({0, 1, 0});
  run(quiet, h, 0, dry);
  EXPECT_TRUE(quiet.washed().empty());
}

TEST(FluidStep, FluidWhoseChunkIsAwayIsLeftAsItIs) {
  Grid g;
  const BlockPos p{3, 3, 3};
  g.away.insert(p.chunk());
  g.pour(p, kWater, 27);
  Solver s;
  s.touch(p);
  EXPECT_TRUE(run(s, g, 0).empty());
  EXPECT_EQ(g.fluid(p), Fluid::of(kWater, 27));
  EXPECT_EQ(g.volume(), 27u);
}

TEST(FluidStep, FluidAtTheEdgesOfTheRangeNeitherWrapsNorGrows) {
  Grid g;
  const BlockPos corners[] = {{kMax, kMax, kMax}, {kMin, kMin, kMin}, {kMax, kMin, kMax}, {kMin, kMax, kMin}};
  for (const auto& c : corners) g.pour(c, kWater, 27);
  Solver s;
  for (const auto& c : corners) s.touch(c);
  for (std::uint64_t step = 0; step < 30; ++step) run(s, g, step);
  EXPECT_EQ(g.volume(), 4u * 27);
  for (const auto& [p, state] : g.fluids) {
    // Every drop stays near its own corner.
    bool near = false;
    for (const auto& c : corners) {
      near = near || (std::abs(std::int64_t{p.x} - c.x) < 40 && std::abs(std::int64_t{p.y} - c.y) < 40 &&
                      std::abs(std::int64_t{p.z} - c.z) < 40);
    }
    EXPECT_TRUE(near) << p.x << "," << p.y << "," << p.z;
  }
}

}  // namespace
}  // namespace ostrel_core::fluid::step
