#include "plans/stamps.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <set>

#include "base/log.hpp"
#include "support/test_world.hpp"

namespace ostrel_server::plans {

struct StampsProbe {
  static void poison(Stamps& s) { s.queue_.poison(); }
};

namespace {

namespace seed = transport::endpoint::seed;
using ostrel_core::coords::SubNodePos;
using ostrel_core::plan::Plan;
using transport::endpoint::Seed;

constexpr MaterialId kStone = 2, kDirt = 3, kGlass = 4, kSlab = 5;
constexpr std::uint32_t kFull = 0x7FFFFFF;

// Records every accepted write; answers Full past `capacity` and Refused for `refused`.
struct FakeQueue final : EditQueue {
  std::vector<Seed> seeds;  // merges as seed::Merge
  std::size_t capacity = std::numeric_limits<std::size_t>::max();
  std::set<MaterialId> whole{kSlab};
  std::set<MaterialId> refused;

  Queued accept(MaterialId m, Seed s) {
    if (refused.contains(m)) return Queued::Refused;
    if (seeds.size() >= capacity) return Queued::Full;
    seeds.push_back(std::move(s));
    return Queued::Queued;
  }
  Queued queue_seed(std::string_view, const Seed& s) override {
    return accept(std::visit([](const auto& v) { return v.material; }, s), s);
  }
  Queued queue_merge(std::string_view, BlockPos pos, MaterialId m, std::uint32_t mask) override {
    return accept(m, seed::Merge{m, pos, mask});
  }
  bool is_whole(MaterialId m) const override { return whole.contains(m); }
};

std::shared_ptr<const Names> names() {
  return std::make_shared<const Names>(std::map<std::string, MaterialId, std::less<>>{
      {"m:stone", kStone}, {"m:dirt", kDirt}, {"m:glass", kGlass}, {"m:slab", kSlab}});
}

// `n` whole blocks of `name` in a row along x.
Plan row_plan(int n, const char* name = "m:stone") {
  Plan p{.w = static_cast<std::uint16_t>(n), .h = 1, .d = 1};
  for (int x = 0; x < n; ++x) EXPECT_TRUE(p.set(static_cast<std::uint16_t>(x), 0, 0, name, kFull));
  return p;
}

Source of(Plan p) { return PlanSource{std::move(p), {}}; }

std::vector<StampBlock> blocks(int n, MaterialId m, std::uint32_t mask) {
  std::vector<StampBlock> out;
  for (int i = 0; i < n; ++i) out.push_back({.dx = i, .dy = 0, .dz = 0, .material = m, .mask = mask});
  return out;
}

void debug_logs() {
  ostrel_core::log::Options options;
  options.filter = *ostrel_core::log::Filter::parse("debug");
  options.colour = false;
  ostrel_core::log::install(options);
}

class StampsTest : public ::testing::Test {
 protected:
  void SetUp() override { debug_logs(); }
  void TearDown() override { ostrel_core::log::install(ostrel_core::log::Options{}); }
  Stamps stamps_{names()};
  FakeQueue queue_;
  test::LogLines log_;
};

TEST_F(StampsTest, ANinthStampWaitsForOneToFinish) {
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(stamps_.enqueue("overworld", {}, of(row_plan(1))));
  EXPECT_FALSE(stamps_.enqueue("overworld", {}, of(row_plan(1))));
  EXPECT_EQ(stamps_.waiting(), 8u);
  EXPECT_EQ(stamps_.pump(queue_), 8u);
  EXPECT_EQ(stamps_.waiting(), 0u);
  EXPECT_TRUE(stamps_.enqueue("overworld", {}, of(row_plan(1))));
}

TEST_F(StampsTest, ThreeHundredWholeBlocksLandInTwoCalls) {
  ASSERT_TRUE(stamps_.enqueue("overworld", {10, 20, 30}, of(row_plan(300))));
  EXPECT_EQ(stamps_.pump(queue_), 256u);
  EXPECT_EQ(log_.count("a stamp is fully queued"), 0);
  EXPECT_EQ(stamps_.pump(queue_), 44u);
  EXPECT_EQ(log_.count("a stamp is fully queued domain=\"overworld\" blocks=300"), 1);
  ASSERT_EQ(queue_.seeds.size(), 300u);
  EXPECT_EQ(queue_.seeds[0], Seed(seed::Whole{kStone, {10, 20, 30}}));
  EXPECT_EQ(queue_.seeds[299], Seed(seed::Whole{kStone, {309, 20, 30}}));
  EXPECT_EQ(stamps_.waiting(), 0u);
  EXPECT_EQ(stamps_.pump(queue_), 0u);
}

TEST_F(StampsTest, MergesOfFourteenCellsStopAtTheBudget) {
  const std::uint32_t fourteen = (1u << 14) - 1;
  ASSERT_TRUE(stamps_.enqueue("overworld", {}, blocks(20, kGlass, fourteen)));
  EXPECT_EQ(stamps_.pump(queue_), 252u);
  EXPECT_EQ(queue_.seeds.size(), 18u);
  EXPECT_EQ(queue_.seeds[17], Seed(seed::Merge{kGlass, {17, 0, 0}, fourteen}));
  EXPECT_EQ(stamps_.pump(queue_), 28u);
  EXPECT_EQ(queue_.seeds.size(), 20u);
}

TEST_F(StampsTest, APlanBlockOfTwoMaterials) {
  Plan p{.w = 1, .h = 1, .d = 1};
  ASSERT_TRUE(p.set(0, 0, 0, "m:stone", 3));
  ASSERT_TRUE(p.set(0, 0, 0, "m:dirt", 4));
  ASSERT_TRUE(stamps_.enqueue("overworld", {1, 0, -1}, of(p)));
  EXPECT_EQ(stamps_.pump(queue_), 2u);
  EXPECT_EQ(queue_.seeds,
            (std::vector<Seed>{seed::Masked{kStone, {1, 0, -1}, 3}, seed::Cell{kDirt, {5, 0, -3}}}));
}

TEST_F(StampsTest, UnregisteredMaterialsAreSkippedAtDebug) {
  Plan p{.w = 3, .h = 1, .d = 1};
  ASSERT_TRUE(p.set(0, 0, 0, "m:gone", kFull));
  ASSERT_TRUE(p.set(1, 0, 0, "m:stone", kFull));
  ASSERT_TRUE(p.set(2, 0, 0, "m:gone", kFull));
  p.cells.push_back({0, 7, kFull});   // a palette entry past the palette: no write
  p.cells.push_back({50, 1, kFull});  // an index outside the box: no write
  ASSERT_TRUE(stamps_.enqueue("overworld", {}, of(p)));
  auto schematic = blocks(2, 99, kFull);
  schematic[1].material = kDirt;
  ASSERT_TRUE(stamps_.enqueue("overworld", {}, schematic));
  EXPECT_EQ(stamps_.pump(queue_), 2u);
  EXPECT_EQ(log_.count("a stamped plan names a material nothing registered material=\"m:gone\""), 2);
  EXPECT_EQ(log_.count("a stamped schematic names a material nothing registered material=99"), 1);
  EXPECT_EQ(stamps_.waiting(), 0u);
}

TEST_F(StampsTest, SchematicBlocks) {
  struct Case {
    const char* name;
    StampBlock block;
    std::uint64_t units;
    std::vector<Seed> want;
    int warns;
  };
  const Case cases[] = {
      {"air with mask 5 carves two cells",
       {.dx = 1, .material = 0, .mask = 5},
       2,
       {seed::Cell{0, {6, 0, 0}}, seed::Cell{0, {8, 0, 0}}},
       0},
      {"full air clears the block",
       {.dx = 1, .material = 0, .mask = kFull},
       1,
       {seed::Whole{0, {2, 0, 0}}},
       0},
      {"a whole material's partial mask", {.dx = 2, .dy = -1, .material = kSlab, .mask = 7}, 0, {}, 1},
      {"a whole material's full mask",
       {.dx = 2, .material = kSlab, .mask = kFull},
       1,
       {seed::Whole{kSlab, {3, 0, 0}}},
       0},
      {"a mask above 27 bits is cut",
       {.material = kDirt, .mask = 0xF8000000u | 1u},
       1,
       {seed::Merge{kDirt, {1, 0, 0}, 1}},
       0},
      {"an empty mask", {.material = kDirt, .mask = 0xF8000000u}, 0, {}, 0},
      {"past the coordinate range", {.dx = INT32_MAX, .material = kDirt, .mask = kFull}, 0, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Stamps stamps(names());
    FakeQueue queue;
    test::LogLines log;
    ASSERT_TRUE(stamps.enqueue("overworld", {1, 0, 0}, std::vector<StampBlock>{c.block}));
    EXPECT_EQ(stamps.pump(queue), c.units);
    EXPECT_EQ(queue.seeds, c.want);
    EXPECT_EQ(log.count("a stamped schematic names part of a whole material"), c.warns);
    if (c.warns != 0) {
      EXPECT_EQ(log.count("material=5 x=3 y=-1 z=0"), 1);
    }
    EXPECT_EQ(stamps.waiting(), 0u);
  }
}

TEST_F(StampsTest, AFullQueueGetsTheSameEntryAgain) {
  ASSERT_TRUE(stamps_.enqueue("overworld", {}, blocks(2, 0, 5)));
  queue_.capacity = 1;
  EXPECT_EQ(stamps_.pump(queue_), 1u);  // the first seed of the entry went in
  EXPECT_EQ(stamps_.waiting(), 1u);
  queue_.capacity = 100;
  queue_.seeds.clear();
  EXPECT_EQ(stamps_.pump(queue_), 4u);
  EXPECT_EQ(queue_.seeds, (std::vector<Seed>{seed::Cell{0, {0, 0, 0}}, seed::Cell{0, {2, 0, 0}},
                                             seed::Cell{0, {3, 0, 0}}, seed::Cell{0, {5, 0, 0}}}));
}

TEST_F(StampsTest, TwoStampsInOneCall) {
  ASSERT_TRUE(stamps_.enqueue("a", {}, of(row_plan(10))));
  ASSERT_TRUE(stamps_.enqueue("b", {}, of(row_plan(10, "m:dirt"))));
  EXPECT_EQ(stamps_.pump(queue_), 20u);
  EXPECT_EQ(log_.count("a stamp is fully queued domain=\"a\" blocks=10"), 1);
  EXPECT_EQ(log_.count("a stamp is fully queued domain=\"b\" blocks=10"), 1);
}

TEST_F(StampsTest, AnEntryRefusedForGoodIsSkippedAndTheNextStampGoesOn) {
  // A plan captured before glass became whole writes part of it: the queue never takes it.
  Plan p{.w = 2, .h = 1, .d = 1};
  ASSERT_TRUE(p.set(0, 0, 0, "m:glass", 3));
  ASSERT_TRUE(p.set(0, 0, 0, "m:stone", 4));
  ASSERT_TRUE(p.set(1, 0, 0, "m:stone", kFull));
  queue_.refused = {kGlass};
  ASSERT_TRUE(stamps_.enqueue("overworld", {0, 5, 0}, of(p)));
  ASSERT_TRUE(stamps_.enqueue("overworld", {}, of(row_plan(3, "m:dirt"))));
  EXPECT_EQ(stamps_.pump(queue_), 5u);
  EXPECT_EQ(log_.count("WARN"), 1);
  EXPECT_EQ(log_.count("refused by the edit queue for good and is skipped material=4 x=0 y=5 z=0"), 1);
  // The glass was never written, so the stone of the same block replaces the block as a whole.
  ASSERT_EQ(queue_.seeds.size(), 5u);
  EXPECT_EQ(queue_.seeds[0], Seed(seed::Masked{kStone, {0, 5, 0}, 4}));
  EXPECT_EQ(stamps_.waiting(), 0u);
}

TEST_F(StampsTest, APoisonedQueueWritesNothing) {
  ASSERT_TRUE(stamps_.enqueue("overworld", {}, of(row_plan(3))));
  StampsProbe::poison(stamps_);
  EXPECT_EQ(stamps_.pump(queue_), 0u);
  EXPECT_EQ(stamps_.waiting(), 0u);
  EXPECT_FALSE(stamps_.enqueue("overworld", {}, of(row_plan(3))));
  EXPECT_TRUE(queue_.seeds.empty());
}

}  // namespace
}  // namespace ostrel_server::plans
