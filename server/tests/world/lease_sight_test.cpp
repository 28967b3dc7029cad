#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

#include "fluid/ponds.hpp"
#include "support/lent_world.hpp"
#include "world/lease_shared.hpp"

namespace ostrel_server::lease {
namespace {

namespace sight = ostrel_core::sight;
using ostrel_core::block::BlockValue;
using ostrel_core::block::kOccupancyFull;
using test::kDirt;
using test::kGrass;
using test::kStone;
using test::LentWorld;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

template <class Lock>
void poison_mutex(Lock& lock) {
  try {
    auto guard = lock.lock();
    throw std::runtime_error("tick failed");
  } catch (const std::runtime_error&) {
  }
}

// Air over x 0..79 (chunks 0..4), y and z 0..15, with a stone wall at x = 8.
class SightTest : public ::testing::Test {
 protected:
  SightTest() {
    lent_.air("overworld", ChunkPos{0, 0, 0}, ChunkPos{4, 0, 0});
    lent_.box("overworld", BlockPos{8, 0, 0}, BlockPos{8, 15, 15}, kStone);
  }
  LentWorld lent_;
};

TEST_F(SightTest, LineOfSightAnswersBlockedOrClear) {
  struct Case {
    const char* what;
    std::string_view domain;
    sight::Vec3d from, to;
    std::optional<bool> blocked;
  };
  const Case cases[] = {
      {"open air", "overworld", {1.5, 5.5, 5.5}, {7.5, 5.5, 5.5}, false},
      {"through the wall", "overworld", {1.5, 5.5, 5.5}, {12.5, 5.5, 5.5}, true},
      {"identical points inside stone", "overworld", {8.5, 5.5, 5.5}, {8.5, 5.5, 5.5}, false},
      {"a start inside stone", "overworld", {8.5, 5.5, 5.5}, {9.5, 5.5, 5.5}, true},
      {"exactly 64 blocks", "overworld", {9.5, 5.5, 5.5}, {73.5, 5.5, 5.5}, false},
      {"64.001 blocks", "overworld", {9.5, 5.5, 5.5}, {73.501, 5.5, 5.5}, true},
      {"into a chunk not resident", "overworld", {70.5, 5.5, 5.5}, {84.5, 5.5, 5.5}, true},
      {"unknown domain", "nowhere", {1.5, 5.5, 5.5}, {2.5, 5.5, 5.5}, true},
      {"unknown domain, no length", "nowhere", {1.5, 5.5, 5.5}, {1.5, 5.5, 5.5}, false},
      {"NaN", "overworld", {kNaN, 5.5, 5.5}, {1.5, 5.5, 5.5}, true},
      {"infinite", "overworld", {1.5, 5.5, 5.5}, {kInf, 5.5, 5.5}, true},
      {"past the chunk range, identical", "overworld", {1e300, 5.5, 5.5}, {1e300, 5.5, 5.5}, false},
  };
  auto shared = lent_.shared();
  for (const auto& c : cases) {
    EXPECT_EQ(shared.line_of_sight(c.domain, c.from, c.to), c.blocked) << c.what;
  }
}

TEST_F(SightTest, NoWorldAndAPoisonedSlotAnswerNoWorld) {
  auto shared = lent_.shared();
  const sight::SurfaceQuery q{1, 1, 10, 20, false, false};
  lent_.take();
  EXPECT_EQ(shared.line_of_sight("overworld", {1, 1, 1}, {2, 2, 2}), std::nullopt);
  EXPECT_EQ(shared.block_at("overworld", BlockPos{1, 1, 1}), sight::Reading{sight::NoWorld{}});
  EXPECT_EQ(shared.surface_at("overworld", q), std::nullopt);
  lent_.put_back();
  EXPECT_EQ(shared.block_at("overworld", BlockPos{8, 1, 1}),
            (sight::Reading{sight::Block{kStone, kOccupancyFull}}));

  poison_mutex(*lent_.lease().world());
  EXPECT_EQ(shared.line_of_sight("overworld", {1, 1, 1}, {2, 2, 2}), std::nullopt);
  EXPECT_EQ(shared.block_at("overworld", BlockPos{8, 1, 1}), sight::Reading{sight::NoWorld{}});
  EXPECT_EQ(shared.surface_at("overworld", q), std::nullopt);
  EXPECT_EQ(shared.find_path("overworld", {1, 1, 1}, {2, 1, 1}, {}),
            ostrel_core::path::Found(std::unexpected(ostrel_core::path::PathFailure::NoWorld)));
  EXPECT_EQ(shared.steer("overworld", {1, 1, 1}, {5, 1, 1}, 2), std::nullopt);
}

TEST_F(SightTest, BlockAtReadsEveryForm) {
  ostrel_core::block::Cells cells{};
  cells[0] = kStone;
  cells[13] = kDirt;
  lent_.set("overworld", BlockPos{2, 2, 2}, BlockValue::partial(kDirt, 0x1FF));
  lent_.set("overworld", BlockPos{3, 2, 2}, BlockValue::mixed(cells));
  auto shared = lent_.shared();
  struct Case {
    const char* what;
    std::string_view domain;
    BlockPos at;
    sight::Reading reading;
  };
  const Case cases[] = {
      {"whole", "overworld", {8, 3, 4}, sight::Block{kStone, kOccupancyFull}},
      {"air", "overworld", {1, 1, 1}, sight::Block{0, 0}},
      {"partial", "overworld", {2, 2, 2}, sight::Block{kDirt, 0x1FF}},
      {"mixed", "overworld", {3, 2, 2}, sight::Mixed{cells}},
      {"negative, not resident", "overworld", {-1, 0, 0}, sight::NotLoaded{}},
      {"above, not resident", "overworld", {1, 16, 1}, sight::NotLoaded{}},
      {"unknown domain", "nowhere", {1, 1, 1}, sight::NotLoaded{}},
      {"the corner of the range", "overworld", {INT32_MIN, INT32_MIN, INT32_MIN}, sight::NotLoaded{}},
  };
  for (const auto& c : cases) EXPECT_EQ(shared.block_at(c.domain, c.at), c.reading) << c.what;
}

// A column at x = z = 1 of 17 chunks from y = -256 to 15, stone at the bottom.
class SurfaceTest : public ::testing::Test {
 protected:
  SurfaceTest() {
    lent_.air("overworld", ChunkPos{0, -16, 0}, ChunkPos{0, 0, 0});
    lent_.set("overworld", BlockPos{1, -246, 1}, BlockValue::whole(kStone));
  }
  std::optional<sight::Surface> scan(std::int32_t from, std::uint32_t depth, bool skip_passable = false,
                                     bool skip_fluid = false, std::int32_t x = 1) {
    return lent_.shared().surface_at("overworld",
                                     sight::SurfaceQuery{x, 1, from, depth, skip_passable, skip_fluid});
  }
  LentWorld lent_;
};

TEST_F(SurfaceTest, DepthBoundsTheScan) {
  EXPECT_EQ(scan(-246, 0), std::nullopt);  // depth 0 reads nothing, even on stone
  EXPECT_EQ(scan(-246, 1), (sight::Surface{sight::SurfaceBlock{-246, kOccupancyFull, kStone}}));
  EXPECT_EQ(scan(-245, 1), std::nullopt);  // only the block at `from`
  // 1000 reads 256 blocks: from 9 down to -246 reaches the stone, from 10 does not.
  EXPECT_EQ(scan(9, 1000), (sight::Surface{sight::SurfaceBlock{-246, kOccupancyFull, kStone}}));
  EXPECT_EQ(scan(10, 1000), std::nullopt);
  EXPECT_EQ(scan(9, 255), std::nullopt);
  // A chunk not resident on the way ends the scan.
  lent_.drop("overworld", ChunkPos{0, -5, 0});
  EXPECT_EQ(scan(9, 1000), std::nullopt);
  // The bottom saturates instead of wrapping past the 32-bit limit.
  EXPECT_EQ(scan(INT32_MIN + 3, 1000), std::nullopt);
}

TEST_F(SurfaceTest, PassableBlocksAndFluid) {
  // A tuft on stone at x = 1; at x = 2 a mixed block of grass cells only, at x = 3 grass beside
  // stone, each over stone.
  lent_.set("overworld", BlockPos{1, 0, 1}, BlockValue::whole(kStone));
  lent_.set("overworld", BlockPos{1, 1, 1}, BlockValue::whole(kGrass));
  ostrel_core::block::Cells tuft{};
  tuft[0] = kGrass;
  tuft[4] = kGrass;
  ostrel_core::block::Cells beside = tuft;
  beside[5] = kStone;
  lent_.set("overworld", BlockPos{2, 0, 1}, BlockValue::whole(kDirt));
  lent_.set("overworld", BlockPos{2, 1, 1}, BlockValue::mixed(tuft));
  lent_.set("overworld", BlockPos{3, 0, 1}, BlockValue::whole(kDirt));
  lent_.set("overworld", BlockPos{3, 1, 1}, BlockValue::mixed(beside));
  const std::uint32_t tuft_mask = 1u | 1u << 4;
  const std::uint32_t beside_mask = tuft_mask | 1u << 5;

  EXPECT_EQ(scan(5, 10, false, false, 1), (sight::Surface{sight::SurfaceBlock{1, kOccupancyFull, kGrass}}));
  EXPECT_EQ(scan(5, 10, true, false, 1), (sight::Surface{sight::SurfaceBlock{0, kOccupancyFull, kStone}}));
  EXPECT_EQ(scan(5, 10, false, false, 2), (sight::Surface{sight::SurfaceBlock{1, tuft_mask, kGrass}}));
  EXPECT_EQ(scan(5, 10, true, false, 2), (sight::Surface{sight::SurfaceBlock{0, kOccupancyFull, kDirt}}));
  EXPECT_EQ(scan(5, 10, false, false, 3), (sight::Surface{sight::SurfaceBlock{1, beside_mask, kStone}}));
  EXPECT_EQ(scan(5, 10, true, false, 3), (sight::Surface{sight::SurfaceBlock{1, beside_mask, kStone}}));

  // A pond two blocks deep over the stone at x = 4.
  fluid::Fluids fluids;
  ostrel_core::fluid::Registered water;
  water.name = "m:water";
  ASSERT_TRUE(fluids.register_fluid(water).has_value());
  auto ponds = std::make_shared<PondsLock>(fluid::Ponds(std::move(fluids), fluid::AbsorbTable{}));
  fluid::Shared wet(ponds);
  const auto still = ostrel_core::fluid::Fluid::of(1, 27);
  const auto top = ostrel_core::fluid::Fluid::of(1, 9);
  lent_.set("overworld", BlockPos{4, 0, 1}, BlockValue::whole(kStone));
  ASSERT_TRUE(wet.set_fluid_at("overworld", BlockPos{4, 1, 1}, still));
  ASSERT_TRUE(wet.set_fluid_at("overworld", BlockPos{4, 2, 1}, top));
  lent_.lease() = lent_.lease().with_terrain({kGrass}, ponds);
  EXPECT_EQ(scan(5, 10, false, false, 4), (sight::Surface{sight::SurfaceFluid{2, top.bits}}));
  EXPECT_EQ(scan(5, 10, false, true, 4), (sight::Surface{sight::SurfaceBlock{0, kOccupancyFull, kStone}}));
  // A poisoned fluid lock: no fluid is looked at.
  try {
    auto guard = ponds->write();
    throw std::runtime_error("tick failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(scan(5, 10, false, false, 4), (sight::Surface{sight::SurfaceBlock{0, kOccupancyFull, kStone}}));
}

}  // namespace
}  // namespace ostrel_server::lease

#include "base/log.hpp"
#include "entities/population.hpp"
#include "hub/records.hpp"
#include "support/test_world.hpp"

namespace ostrel_server::lease {
namespace {

using ostrel_core::ent::Entity;
using ostrel_core::ent::EntityId;
using ostrel_core::identity::PlayerUuid;
using transport::endpoint::PlayerSim;

PlayerUuid uuid(std::uint8_t b) {
  PlayerUuid u;
  u.bytes.fill(b);
  return u;
}

// A viewer in chunk (0, 0, 0) with feet at (24, 3, 24) cells, looking along +z, and a stone
// wall of cells at z = 36 (block z 12): the ray meets it 12 cells from the eye.
class AimTest : public ::testing::Test {
 protected:
  AimTest() {
    lent_.air("overworld", ChunkPos{0, 0, 0}, ChunkPos{0, 1, 0});
    lent_.box("overworld", BlockPos{0, 0, 12}, BlockPos{15, 15, 12}, test::kStone);
    lent_.lease().set_players(players_);
    lent_.lease().set_population(population_);
    auto sim = PlayerSim::at_spawn(BlockPos{8, 1, 8}, 0);
    EXPECT_EQ(sim.local, (std::array<float, 3>{25.5f, 3.0f, 25.5f}));
    sim.local = {24.0f, 3.0f, 24.0f};
    (*players_->lock())->emplace(viewer_, sim);
  }
  // An entity of `width` cells whose box starts `near` cells along z from the viewer's eye.
  EntityId spawn(float near, float width = 1.0f, std::optional<PlayerUuid> owner = std::nullopt) {
    Entity e;
    e.transform.local = {24.0f, 6.0f, 24.0f + near + width / 2.0f};
    e.collider = ostrel_core::phys::Shape{width, 3.0f};
    if (owner) e.owner = ostrel_core::ent::component::Owner{*owner};
    e.source = "m";
    return (*population_->write())->spawn(e);
  }
  std::optional<Looked> looking() { return lent_.shared().looking_at(viewer_); }
  sight::Looked cell() const {
    return sight::LookedCell{
        "overworld", ostrel_core::coords::SubNodePos{24, 7, 36}, {0, 0, -1}, test::kStone};
  }
  sight::Looked entity(EntityId id, std::optional<PlayerUuid> owner = std::nullopt) const {
    return sight::LookedEntity{"overworld", id, owner};
  }

  LentWorld lent_;
  PlayerUuid viewer_ = uuid(1);
  std::shared_ptr<PlayersLock> players_ = std::make_shared<PlayersLock>();
  std::shared_ptr<PopulationLock> population_ = std::make_shared<PopulationLock>();
};

TEST_F(AimTest, TheNearerOfCellAndEntity) {
  EXPECT_EQ(looking(), cell());
  const auto behind = spawn(12.5f);
  EXPECT_EQ(looking(), cell());
  const auto level = spawn(12.0f, 1.0f, uuid(9));  // exactly as far as the cell: the entity
  EXPECT_EQ(looking(), entity(level, uuid(9)));
  const auto twin = spawn(12.0f, 3.0f);  // as far, a higher id
  EXPECT_EQ(looking(), entity(level, uuid(9)));
  ASSERT_TRUE((*population_->write())->despawn(level).has_value());
  EXPECT_EQ(looking(), entity(twin));
  (void)behind;
}

TEST_F(AimTest, SkipsOwnOthersDomainsAndColliderless) {
  spawn(2.0f, 1.0f, viewer_);  // the viewer's own
  const auto other = spawn(3.0f);
  (*population_->write())->set_domain(other, "dun");
  const auto marker = spawn(4.0f);
  (*population_->write())->get_mut(marker)->collider.reset();
  const auto nan = spawn(5.0f);
  (*population_->write())->get_mut(nan)->collider = ostrel_core::phys::Shape{NAN, NAN};
  EXPECT_EQ(looking(), cell());
  // Another player sees the viewer's entity.
  auto sim = (*players_->lock())->at(viewer_);
  (*players_->lock())->emplace(uuid(2), sim);
  const auto seen = lent_.shared().looking_at(uuid(2));
  ASSERT_TRUE(seen && std::holds_alternative<sight::LookedEntity>(*seen));
  EXPECT_EQ(std::get<sight::LookedEntity>(*seen).owner, viewer_);
}

TEST_F(AimTest, SkyUnloadedTerrainAndMissingHandles) {
  auto face = [&](float yaw, float pitch, std::array<float, 3> feet) {
    auto players = players_->lock();
    auto& sim = (*players)->at(viewer_);
    sim.yaw = yaw;
    sim.pitch = pitch;
    sim.local = feet;
  };
  face(0.0f, 0.25f, {24, 3, 24});  // up into air
  EXPECT_EQ(looking(), std::nullopt);
  face(0.5f, 0.0f, {24, 3, 5});  // along -z into chunk (0, 0, -1), not resident
  EXPECT_EQ(looking(), std::nullopt);
  face(0.0f, -0.25f, {24, 3, 24});  // down onto chunk (0, -1, 0), not resident
  EXPECT_EQ(looking(), std::nullopt);
  face(0.0f, 0.0f, {24, 3, 24});
  EXPECT_EQ(looking(), cell());
  EXPECT_EQ(lent_.shared().looking_at(uuid(7)), std::nullopt);  // not connected

  const auto gaze = lent_.shared().gaze(viewer_);
  ASSERT_TRUE(gaze.has_value());
  EXPECT_EQ(gaze->domain, "overworld");
  EXPECT_EQ(gaze->direction, sight::look_direction(0.0f, 0.0f));
  lent_.take();  // a gaze needs no world
  EXPECT_TRUE(lent_.shared().gaze(viewer_).has_value());
  EXPECT_EQ(looking(), std::nullopt);
  lent_.put_back();

  // A poisoned population answers none; without players nothing is answered.
  try {
    auto guard = population_->write();
    throw std::runtime_error("tick failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(looking(), std::nullopt);
  poison_mutex(*players_);
  EXPECT_EQ(lent_.shared().gaze(viewer_), std::nullopt);
  lent_.lease().set_players(nullptr);
  EXPECT_EQ(lent_.shared().gaze(viewer_), std::nullopt);
}

TEST_F(AimTest, TraceEventsNameTheirFields) {
  const auto id = spawn(12.0f);
  ostrel_core::log::Options options;
  options.filter = *ostrel_core::log::Filter::parse("ostrel_server::lease=trace");
  options.colour = false;
  ostrel_core::log::install(options);
  std::vector<std::string> lines;
  {
    test::LogLines capture;
    EXPECT_EQ(looking(), entity(id));
    lines = capture.lines();
  }
  ostrel_core::log::install(ostrel_core::log::Options{});
  ASSERT_EQ(lines.size(), 3u);
  const auto has = [](const std::string& line, std::initializer_list<const char*> parts) {
    for (const char* p : parts) {
      if (line.find(p) == std::string::npos) return ::testing::AssertionFailure() << line << " lacks " << p;
    }
    return ::testing::AssertionSuccess();
  };
  EXPECT_TRUE(has(lines[0], {"TRACE ostrel_server::lease: aim", "domain=\"overworld\"", "origin=(0, 0, 0)",
                             "feet=[24, 3, 24]", "eye=[24, 7.86, 24]", "direction=[-0, 0, 1]"}));
  EXPECT_TRUE(has(lines[1], {"aim candidate", "id=0", "in_domain=true", "owned=false",
                             "collider=Shape { width: 1, height: 3 }", "transform=Transform {"}));
  EXPECT_TRUE(has(lines[2], {"aim candidate's box", "id=0",
                             "aabb=Aabb { min: [23.5, 6, 36], max: [24.5, 9, 37] }", "distance=12"}));
  // At INFO nothing is written.
  test::LogLines quiet;
  EXPECT_EQ(looking(), entity(id));
  EXPECT_TRUE(quiet.lines().empty());
}

}  // namespace
}  // namespace ostrel_server::lease
