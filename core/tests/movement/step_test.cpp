#include "movement/phys/step.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "movement/phys.hpp"
#include "movement/phys/swim.hpp"
#include "support/alloc_count.hpp"
#include "support/voxel_world.hpp"

namespace ostrel_core::phys {
namespace {

using coords::BlockPos;
using coords::ChunkPos;
using coords::SubNodePos;
using test::VoxelWorld;
using voxels::Terrain;

constexpr material::MaterialId kStone = 2;
constexpr material::MaterialId kIce = 3;
constexpr MoveTuning kTuning{};
constexpr float kW = kPlayerShape.width;
constexpr float kH = kPlayerShape.height;
const Terrain kNoRules;

// Air over chunks -1..1 on every axis with a stone floor one block deep (cells y 0..2, so the
// surface is y 3) under blocks x from -16 to `floor_to`, z from -16 to 31.
VoxelWorld floored(std::int32_t floor_to = 31, material::MaterialId floor = kStone) {
  VoxelWorld w;
  w.air({-1, -1, -1}, {1, 1, 1});
  w.blocks({-16, 0, -16}, {floor_to, 0, 31}, floor);
  return w;
}

Body standing_at(float x, float y, float z, float vx = 0.0f) {
  return Body{{x, y, z}, {vx, 0.0f, 0.0f}, 0, true};
}

Body step(const VoxelWorld& w, const Body& b, const Intent& in = {}, const Terrain& rules = kNoRules) {
  const voxels::Voxels v(w, rules, &w, {0, 0, 0});
  return step_shaped(v, b, in, kTuning, kW, kH);
}

// Values the scenarios use, each formed as the step forms it.
const float kKept = kTuning.ground_keep * 0.5f;  // 0.5 cells a tick after one grounded tick
const float kFall = 3.0f - kTuning.gravity;      // one tick of gravity from the floor
const float kSneakPush = kTuning.ground_keep * kTuning.ground_push;  // sneak from rest: below its cap

struct Scenario {
  const char* name;
  std::function<VoxelWorld()> world;
  Body start;
  Intent intent;
  Terrain rules;
  Body want;
};

std::vector<Scenario> scenarios() {
  const Intent none{};
  return {
      {"idle on flat ground",
       [] { return floored(); },
       standing_at(10.5f, 3.0f, 10.5f),
       none,
       {},
       Body{{10.5f, 3.0f, 10.5f}, {0.0f, 0.0f, 0.0f}, 0, true}},
      {"a one-cell step is climbed",
       [] {
         auto w = floored();
         w.cells({14, 3, 6}, {20, 3, 15}, kStone);
         return w;
       },
       standing_at(13.0f, 3.0f, 10.5f, 0.5f),
       none,
       {},
       Body{{13.0f + kKept, 4.0f, 10.5f}, {kKept, 0.0f, 0.0f}, 0, true}},
      {"a two-cell wall stops and zeroes velocity",
       [] {
         auto w = floored();
         w.cells({14, 3, 6}, {20, 4, 15}, kStone);
         return w;
       },
       standing_at(13.0f, 3.0f, 10.5f, 0.5f),
       none,
       {},
       Body{{13.0f + (14.0f - (13.0f + kW / 2.0f) - kGap), 3.0f, 10.5f}, {0.0f, 0.0f, 0.0f}, 0, true}},
      {"a one-cell ledge snaps down in the same tick",
       [] {
         auto w = floored(4);
         w.cells({15, 0, 6}, {30, 1, 15}, kStone);
         return w;
       },
       standing_at(15.8f, 3.0f, 10.5f, 0.5f),
       none,
       {},
       Body{{15.8f + kKept, kFall + ((2.0f - kFall) + kGap), 10.5f}, {kKept, 0.0f, 0.0f}, 0, true}},
      {"a two-cell ledge is fallen from",
       [] {
         auto w = floored(4);
         w.cells({15, 0, 6}, {30, 0, 15}, kStone);
         return w;
       },
       standing_at(15.8f, 3.0f, 10.5f, 0.5f),
       none,
       {},
       Body{{15.8f + kKept, kFall, 10.5f}, {kKept, -kTuning.gravity, 0.0f}, 0, false}},
      {"a hole narrower than the body is walked over",
       [] {
         auto w = floored();
         w.cells({16, 2, 6}, {16, 2, 15}, material::kAir);
         return w;
       },
       standing_at(15.8f, 3.0f, 10.5f, 0.5f),
       none,
       {},
       Body{{15.8f + kKept, 3.0f, 10.5f}, {kKept, 0.0f, 0.0f}, 0, true}},
      {"over a wider hole the floor ahead lifts the body back",
       [] {
         auto w = floored();
         w.cells({15, 2, 6}, {17, 2, 15}, material::kAir);
         return w;
       },
       standing_at(15.8f, 3.0f, 10.5f, 0.5f),
       none,
       {},
       Body{{15.8f + kKept, kFall + (3.0f - kFall), 10.5f}, {kKept, 0.0f, 0.0f}, 0, true}},
      {"sneaking stops at the edge",
       [] { return floored(4); },
       standing_at(15.85f, 3.0f, 10.5f),
       Intent{1.0f, 0.0f, Gait::Sneak},
       {},
       // Halving towards the edge: moved/2 falls off, moved/4 stands, 3/8 and 5/16 fall off.
       Body{{15.85f + kSneakPush / 4.0f, 3.0f, 10.5f}, {0.0f, 0.0f, 0.0f}, 0, true}},
      {"on friction 0 a body keeps its speed", [] { return floored(31, kIce); },
       standing_at(10.5f, 3.0f, 10.5f, 0.5f), none, Terrain::of({}, {{kIce, 0.0f}}),
       Body{{11.0f, 3.0f, 10.5f}, {0.5f, 0.0f, 0.0f}, 0, true}},
      {"flying with sneak descends",
       [] { return floored(); },
       Body{{10.5f, 30.0f, 10.5f}, {}, 0, false},
       Intent{0.0f, 0.0f, Gait::Sneak, false, true},
       {},
       Body{{10.5f, 30.0f - kTuning.sneak_speed * kTuning.fly_factor, 10.5f},
            {0.0f, -(kTuning.sneak_speed * kTuning.fly_factor), 0.0f},
            0,
            false}},
      {"flying at a walk hovers",
       [] { return floored(); },
       Body{{10.5f, 30.0f, 10.5f}, {}, 0, false},
       Intent{0.0f, 0.0f, Gait::Walk, false, true},
       {},
       Body{{10.5f, 30.0f, 10.5f}, {}, 0, false}},
  };
}

TEST(StepShaped, ScenarioTable) {
  for (const Scenario& s : scenarios()) {
    SCOPED_TRACE(s.name);
    const VoxelWorld w = s.world();
    const Body got = step(w, s.start, s.intent, s.rules);
    EXPECT_EQ(got.position, s.want.position);
    EXPECT_EQ(got.velocity, s.want.velocity);
    EXPECT_EQ(got.jump_cooldown, s.want.jump_cooldown);
    EXPECT_EQ(got.on_ground, s.want.on_ground);
  }
}

TEST(StepShaped, FlyingSneakAndNearbyFiguresAreTheStatedOnes) {
  EXPECT_FLOAT_EQ(kTuning.sneak_speed * kTuning.fly_factor, 0.4875f);
  const VoxelWorld edge = floored(4);
  // The sneaking edge guard leaves the body within 1/16 of the move from where it would fall.
  const Body sneak = step(edge, standing_at(15.85f, 3.0f, 10.5f), Intent{1.0f, 0.0f, Gait::Sneak});
  const voxels::Voxels v(edge, kNoRules, nullptr, {0, 0, 0});
  EXPECT_TRUE(standing_on_ground_shaped(v, sneak.position, kW));
  EXPECT_FALSE(standing_on_ground_shaped(v, {sneak.position[0] + kSneakPush / 8.0f, 3.0f, 10.5f}, kW));
}

TEST(StepShaped, HeldJumpRepeatsEveryTwentyTicksAndRisesFreely) {
  const VoxelWorld w = floored();
  Body b = standing_at(10.5f, 3.0f, 10.5f);
  const Intent jump{0.0f, 0.0f, Gait::Walk, true, false};
  std::vector<int> jumps;
  std::vector<float> heights;
  for (int tick = 0; tick < 60; ++tick) {
    b = step(w, b, jump);
    if (b.velocity[1] == kTuning.jump_speed) jumps.push_back(tick);
    heights.push_back(b.position[1]);
  }
  EXPECT_EQ(jumps, (std::vector<int>{0, 20, 40}));
  // Free flight of the first jump: each tick rises by the velocity, then gravity takes its share.
  float y = 3.0f, vy = kTuning.jump_speed;
  for (int tick = 0; vy > 0.0f; ++tick) {
    y += vy;
    EXPECT_EQ(heights[tick], y) << "tick " << tick;
    vy -= kTuning.gravity;
  }
  const float peak = *std::max_element(heights.begin(), heights.begin() + 20);
  EXPECT_EQ(peak, y);
  // sqrt(1.8) rises 3.75 cells in continuous time; the per-tick steps climb 4.45.
  EXPECT_GT(peak - 3.0f, 3.75f);
  EXPECT_LT(peak - 3.0f, 4.5f);
  // Each landing stops 1/1024 cell above the floor and stays there.
  EXPECT_EQ(heights[19], 3.0f + kGap);
}

TEST(StepShaped, SwimmingLiftsAndBreaches) {
  // Water from block y 1; the player box centred in block (1, 1) is a whole number of blocks wide
  // in float, so full water measures exactly 1.
  VoxelWorld deep = floored();
  deep.pour({0, 1, 0}, {8, 5, 8}, 1, 27);
  const Body still{{4.5f, 4.0f, 4.5f}, {}, 0, false};
  const voxels::Voxels view(deep, kNoRules, &deep, {0, 0, 0});
  ASSERT_EQ(swim::submersion(view, Aabb::of_body(still.position, kW, kH)), 1.0f);
  const float lift = 0.0f - kTuning.gravity * (1.0f - 1.0f * kTuning.buoyancy);
  EXPECT_EQ(lift, 0.06f);
  const float drag = 1.0f - 1.0f * (1.0f - kTuning.fluid_keep);
  const Body floated = step(deep, still);
  EXPECT_EQ(floated.velocity[1], lift * drag);
  EXPECT_EQ(floated.position[1], 4.0f + lift * drag);

  // Two blocks of water: the head of a body standing at y 4 is above the surface at y 9.
  VoxelWorld shallow = floored();
  shallow.pour({0, 1, 0}, {8, 2, 8}, 1, 27);
  const Body breached = step(shallow, still, Intent{0.0f, 0.0f, Gait::Walk, true, false});
  EXPECT_EQ(std::bit_cast<std::uint32_t>(breached.velocity[1]), 0x3F89624Fu);
  EXPECT_EQ(breached.position[1], 4.0f + kTuning.breach_speed);
}

TEST(StepShaped, AbsentChunkWallsTheBodyInAndIsRecorded) {
  const VoxelWorld w = floored();  // chunk (2, 0, 0) is not in memory
  const voxels::Voxels v(w, kNoRules, &w, {0, 0, 0});
  const Body got = step_shaped(v, standing_at(95.0f, 3.0f, 10.5f, 0.5f), {}, kTuning, kW, kH);
  EXPECT_EQ(got.position, (Vec3{95.0f + (96.0f - (95.0f + kW / 2.0f) - kGap), 3.0f, 10.5f}));
  EXPECT_EQ(got.velocity, (Vec3{0.0f, 0.0f, 0.0f}));
  EXPECT_TRUE(v.touched_absent());
  ASSERT_EQ(v.absent().size(), 1u);
  EXPECT_EQ(v.absent()[0], (ChunkPos{2, 0, 0}));
}

TEST(StepShaped, AllocatesNothingEvenWhenChunksAreMissing) {
  const VoxelWorld w = floored();
  Body b = standing_at(90.0f, 3.0f, 10.5f);
  test::AllocationWatch watch;
  for (int tick = 0; tick < 40; ++tick) {
    const voxels::Voxels v(w, kNoRules, &w, {0, 0, 0});
    b = step_shaped(v, b, Intent{1.0f, 0.2f, Gait::Sprint, tick % 10 == 0}, kTuning, kW, kH);
  }
  EXPECT_EQ(watch.count(), 0u);
  EXPECT_GT(b.position[0], 94.0f);  // it reached the missing chunk's wall
}

TEST(StepShaped, WalkVectorsThatAreNotFiniteMoveNothing) {
  struct Case {
    const char* name;
    float x, z;
    bool walks;
  };
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Case cases[] = {
      {"unit", 1.0f, 0.0f, true},
      {"long", std::ldexp(1.0f, 60), 0.0f, true},
      {"zero", 0.0f, 0.0f, false},
      {"negative zero", -0.0f, 0.0f, false},
      {"infinite", inf, 0.0f, false},
      {"not a number", nan, 1.0f, false},
      // Finite, but its square overflows: the plain arithmetic leaves no direction.
      {"squares past the float range", std::ldexp(1.0f, 64), 0.0f, false},
  };
  const VoxelWorld w = floored();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Body got = step(w, standing_at(10.5f, 3.0f, 10.5f), Intent{c.x, c.z});
    EXPECT_EQ(got.velocity[0], c.walks ? kTuning.ground_keep * (0.0f + 1.0f * kTuning.ground_push) : 0.0f);
    EXPECT_EQ(got.velocity[2], 0.0f);
    EXPECT_TRUE(got.on_ground);
  }
}

TEST(StepShaped, HostileBodiesStepWithoutHarm) {
  const VoxelWorld w = floored();
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float big = std::numeric_limits<float>::max();
  const Body bodies[] = {
      {{nan, nan, nan}, {nan, nan, nan}, 0, true},
      {{1e30f, -1e30f, 1e30f}, {0.0f, 0.0f, 0.0f}, 255, false},
      {{10.5f, 3.0f, 10.5f}, {big, big, -big}, 0, true},
      {{10.5f, 3.0f, 10.5f}, {inf, -inf, inf}, 0, true},
      {{-big, big, 0.0f}, {1.0f, 1.0f, 1.0f}, 0, false},
  };
  for (const Body& b : bodies) {
    const voxels::Voxels v(w, kNoRules, &w, {0, 0, 0});
    const Body got = step_shaped(v, b, Intent{1.0f, 1.0f, Gait::Sprint, true, false}, kTuning, kW, kH);
    EXPECT_LE(v.absent().size(), voxels::kMaxAbsent);
    const int jumped = b.on_ground && b.jump_cooldown <= 1 ? kTuning.jump_cooldown : 0;
    EXPECT_EQ(got.jump_cooldown, b.jump_cooldown > 1 ? b.jump_cooldown - 1 : jumped);
  }
  // Huge finite speeds are held to the gait's cap, and an upward flight ends at the last
  // resident layer.
  const voxels::Voxels v(w, kNoRules, &w, {0, 0, 0});
  const Body flung =
      step_shaped(v, Body{{10.5f, 3.0f, 10.5f}, {1e30f, 1e30f, 0.0f}, 0, false}, {}, kTuning, kW, kH);
  EXPECT_EQ(flung.velocity[1], 0.0f);
  EXPECT_EQ(flung.position[1], 3.0f + (96.0f - (3.0f + kH) - kGap));
  EXPECT_LE(std::fabs(flung.velocity[0]), kTuning.walk_speed);
  EXPECT_TRUE(v.touched_absent());
}

TEST(MoveTuning, ConstantsEqualTheirBits) {
  const MoveTuning t;
  EXPECT_EQ(std::bit_cast<std::uint32_t>(t.jump_speed), 0x3FABBAE3u);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(t.walk_speed), 0x3F251EB9u);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(t.ground_push), 0x3E8D880Cu);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(t.breach_speed), 0x3F89624Fu);
  const float plain[] = {t.gravity,     t.terminal_fall, t.sprint_speed, t.sneak_speed, t.fly_factor,
                         t.ground_keep, t.air_keep,      t.sprint_push,  t.air_push,    t.step_height,
                         t.buoyancy,    t.fluid_keep,    t.swim_up,      t.sneak_sink,  t.fluid_speed,
                         t.fluid_push,  t.fluid_terminal};
  const float want[] = {0.24f, 11.76f, 0.84f, 0.195f,   2.5f,   0.7f, 0.91f,  0.36f, 0.06f,
                        1.0f,  1.25f,  0.8f,  0.03375f, 0.135f, 0.3f, 0.075f, 0.9f};
  for (std::size_t i = 0; i < std::size(want); ++i) EXPECT_EQ(plain[i], want[i]) << "field " << i;
  EXPECT_EQ(t.jump_cooldown, 20);
  EXPECT_EQ(std::nextafter(0.645f, 1.0f), t.walk_speed);
  // Steady speed on level ground, keep * push / (1 - keep), is the walk and sprint cap.
  EXPECT_NEAR(t.ground_keep * t.ground_push / (1.0f - t.ground_keep), 0.645f, 1e-6f);
  EXPECT_NEAR(t.ground_keep * t.sprint_push / (1.0f - t.ground_keep), t.sprint_speed, 1e-6f);
}

TEST(MoveTuning, MultipliersScaleTheirFieldsOnly) {
  const MoveTuning t;
  const MoveTuning fast = t.with_speed(2.0f);
  EXPECT_EQ(fast.walk_speed, t.walk_speed * 2.0f);
  EXPECT_EQ(fast.sprint_speed, t.sprint_speed * 2.0f);
  EXPECT_EQ(fast.sneak_speed, t.sneak_speed * 2.0f);
  EXPECT_EQ(fast.ground_push, t.ground_push * 2.0f);
  EXPECT_EQ(fast.sprint_push, t.sprint_push * 2.0f);
  EXPECT_EQ(fast.air_push, t.air_push * 2.0f);
  MoveTuning rest = fast;
  rest.walk_speed = t.walk_speed;
  rest.sprint_speed = t.sprint_speed;
  rest.sneak_speed = t.sneak_speed;
  rest.ground_push = t.ground_push;
  rest.sprint_push = t.sprint_push;
  rest.air_push = t.air_push;
  EXPECT_EQ(rest, t);
  EXPECT_EQ(t.with_speed(1.0f), t);
  MoveTuning heavy = t.with_gravity(3.0f);
  EXPECT_EQ(heavy.gravity, t.gravity * 3.0f);
  heavy.gravity = t.gravity;
  EXPECT_EQ(heavy, t);
  EXPECT_EQ(t.with_gravity(1.0f), t);
}

TEST(PhysDebug, ShapeAndBoxRenderTheirFieldsByName) {
  EXPECT_EQ(kPlayerShape.debug(), "Shape { width: 1.8, height: 5.4 }");
  EXPECT_EQ(Aabb::of_body({1.0f, 2.0f, 3.0f}, 2.0f, 4.5f).debug(),
            "Aabb { min: [0, 2, 2], max: [2, 6.5, 4] }");
}

}  // namespace
}  // namespace ostrel_core::phys

namespace ostrel_core::phys {
namespace {

TEST(Reanchor, MovesEachAxisIntoTheChunkThatHoldsIt) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Anchored a = reanchor({3, 0, -1}, {48.25f, -0.5f, 96.0f});
  EXPECT_EQ(a.chunk, (std::array<std::int64_t, 3>{4, -1, 1}));
  EXPECT_EQ(a.local, (Vec3{0.25f, 47.5f, 0.0f}));
  const Anchored still = reanchor({0, 0, 0}, {0.0f, 47.99f, -0.0f});
  EXPECT_EQ(still.chunk, (std::array<std::int64_t, 3>{0, 0, 0}));
  EXPECT_EQ(still.local, (Vec3{0.0f, 47.99f, -0.0f}));
  const Anchored odd = reanchor({std::numeric_limits<std::int32_t>::max(), 5, 0}, {1e30f, nan, 0.0f});
  EXPECT_EQ(odd.chunk[0], std::int64_t{std::numeric_limits<std::int32_t>::max()} * 2);
  EXPECT_EQ(odd.chunk[1], 5);
  EXPECT_TRUE(std::isnan(odd.local[1]));
}

}  // namespace
}  // namespace ostrel_core::phys
