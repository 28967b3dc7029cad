// The sight and path functions over fake services (surface_at, looking_at, line_of_sight,
// find_path, steer_entity), heading's table arctangent, and every entity, player, mount, domain
// and perception function's answer with empty and poisoned slots.

#include <gtest/gtest.h>

#include <bit>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "detgen/trig_tables.hpp"
#include "movement/ent/access.hpp"
#include "movement/path.hpp"
#include "script/lua_vm/slots.hpp"
#include "script/runtime_fakes.hpp"
#include "script/terrain_lua.hpp"
#include "support/log_capture.hpp"
#include "support/lua_dump.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

using coords::BlockPos;
using test::run;

// Answers what the test put in; records what it was asked.
class Sight final : public sight::Access {
 public:
  std::optional<bool> blocked;
  std::optional<sight::Surface> surface;
  std::optional<sight::Looked> looked;
  std::vector<std::string> asked;

  std::optional<bool> line_of_sight(std::string_view domain, const sight::Vec3d& a,
                                    const sight::Vec3d& b) override {
    asked.push_back(fmt::format("los {} {},{},{} {},{},{}", domain, a[0], a[1], a[2], b[0], b[1], b[2]));
    return blocked;
  }
  sight::Reading block_at(std::string_view, BlockPos) override { return sight::NoWorld{}; }
  std::optional<sight::Surface> surface_at(std::string_view domain, const sight::SurfaceQuery& q) override {
    asked.push_back(fmt::format("surface {} {},{} from {} depth {} {} {}", domain, q.x, q.z, q.from, q.depth,
                                q.skip_passable, q.skip_fluid));
    return surface;
  }
  std::optional<sight::Looked> looking_at(const identity::PlayerUuid&) override { return looked; }
  std::optional<sight::Gaze> gaze(const identity::PlayerUuid&) override { return std::nullopt; }
};

class Paths final : public path::Access {
 public:
  path::Found route = std::unexpected(path::PathFailure::Unreachable);
  std::optional<path::Steering> steering;
  std::vector<std::string> asked;

  path::Found find_path(std::string_view domain, const path::Vec3d& a, const path::Vec3d& b,
                        const path::PathOptions& o) override {
    asked.push_back(fmt::format("path {} {},{},{} {},{},{} budget {} height {} step {} drop {}", domain, a[0],
                                a[1], a[2], b[0], b[1], b[2], o.budget, o.height, o.step_up, o.max_drop));
    return route;
  }
  std::optional<path::Steering> steer(std::string_view domain, const path::Vec3d& from, const path::Vec3d& to,
                                      std::int32_t height) override {
    asked.push_back(fmt::format("steer {} {},{},{} {},{},{} height {}", domain, from[0], from[1], from[2],
                                to[0], to[1], to[2], height));
    return steering;
  }
};

// Entities by id; get and patch only.
class Entities final : public ent::access::Access {
 public:
  std::map<std::uint64_t, ent::Entity> live;
  std::vector<ent::access::Patch> patches;

  std::optional<ent::EntityId> spawn(ent::Entity) override { return std::nullopt; }
  bool despawn(ent::EntityId) override { return false; }
  std::optional<ent::Entity> get(ent::EntityId id) override {
    auto it = live.find(id.value);
    if (it == live.end()) return std::nullopt;
    return it->second;
  }
  bool patch(ent::EntityId id, const ent::access::Patch& p) override {
    patches.push_back(p);
    return live.contains(id.value);
  }
  std::optional<ent::EntityId> player(const identity::PlayerUuid&) override { return std::nullopt; }
  std::vector<ent::EntityId> within(std::string_view, const ent::access::Vec3d&, double,
                                    std::optional<std::string_view>) override {
    return {};
  }
  bool move_player(const identity::PlayerUuid&, const ent::access::Vec3d&) override { return false; }
  bool select_slot(const identity::PlayerUuid&, std::uint16_t) override { return false; }
  bool shove_player(const identity::PlayerUuid&, const std::array<float, 3>&) override { return false; }
  bool transfer(ent::EntityId, std::string_view, const ent::access::Vec3d&) override { return false; }
  bool set_abilities(const identity::PlayerUuid&, std::optional<ent::access::Abilities>) override {
    return false;
  }
  ent::mount::Boarding mount(const identity::PlayerUuid&, ent::EntityId,
                             const ent::mount::MountOptions&) override {
    return ent::mount::Boarding::Seated;
  }
  bool dismount(const identity::PlayerUuid&) override { return false; }
  std::optional<ent::EntityId> mounted(const identity::PlayerUuid&) override { return std::nullopt; }
};

std::string eval(LuaVm& vm, std::string_view expr) { return test::dump_results(vm, "m", expr); }

const std::string kPlayer(64, 'a');

TEST(Perception, EveryFunctionGivesItsEmptyAnswerWithEmptySlotsAndWithPoisonedOnes) {
  struct Case {
    std::string code;
    const char* empty;
    const char* poisoned;
  };
  const std::string p = "'" + kPlayer + "'";
  const char* kStore = "error: the entity store is poisoned; the simulation thread panicked";
  const char* kLease = "error: the world lease is poisoned; the simulation thread panicked";
  const Case cases[] = {
      {"game.spawn_entity({ pos = { x = 1, y = 2, z = 3 } })", "nil", kStore},
      {"game.despawn_entity(5)", "false", kStore},
      {"game.entity(5)", "nil", kStore},
      {"game.set_entity(5, { yaw = 1 })", "false", kStore},
      {"game.entities_in_radius({ x = 0, y = 0, z = 0 }, 4)", "{}", kStore},
      {"game.player_entity(" + p + ")", "nil", "nil"},
      {"game.move_player(" + p + ", { x = 0, y = 0, z = 0 })", "false", "false"},
      {"game.select_slot(" + p + ", 1)", "false", "false"},
      {"game.set_player_abilities(" + p + ", { fly = true })", "false", "false"},
      {"game.push_player(" + p + ", { x = 0, y = 1, z = 0 })", "false", "false"},
      {"game.mount(" + p + ", 5)", "nil | not connected", "nil | not connected"},
      {"game.dismount(" + p + ")", "false", "false"},
      {"game.mounted(" + p + ")", "nil", "nil"},
      {"game.transfer_entity(5, 'moon', { x = 0, y = 0, z = 0 })", "false", "false"},
      {"game.create_domain('m:t', 'a')", "nil", "nil"},
      {"game.destroy_domain('m:t/a')", "false", "false"},
      {"game.set_domain_sky('overworld', nil)", "false", "false"},
      {"game.steer_entity(5, { x = 1, y = 2, z = 3 })", "nil", "nil"},
      {"game.surface_at({ x = 0, z = 0, from = 64 })", "nil", kLease},
      {"game.looking_at(" + p + ")", "nil", kLease},
      {"game.line_of_sight({ x = 0, y = 0, z = 0 }, { x = 1, y = 0, z = 0 })", "nil", kLease},
      {"game.find_path({ x = 0, y = 0, z = 0 }, { x = 1, y = 0, z = 0 })", "nil | no world", kLease},
  };
  auto empty = test::make_engine();
  auto poisoned = test::make_engine();
  ASSERT_TRUE(test::load(empty, "m", ""));
  ASSERT_TRUE(test::load(poisoned, "m", ""));
  const Slots& s = poisoned.slots();
  s.entities->poison();
  s.domains->poison();
  s.sight->poison();
  s.paths->poison();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(eval(empty, c.code), c.empty);
    EXPECT_EQ(eval(poisoned, c.code), c.poisoned);
  }
  // Some arguments are read before the slot, some after: a text id is refused by despawn_entity
  // without a world, and hidden from game.entity by the empty slot.
  EXPECT_EQ(eval(empty, "game.despawn_entity('5')"), "error: an entity id must be an integer, not string");
  EXPECT_EQ(eval(empty, "game.entity('5')"), "nil");
  EXPECT_EQ(eval(empty, "game.mount('abc', 5)"),
            "error: game.mount takes a player UUID in hex, as a hook event reports one");
}

TEST(Perception, LineOfSightAndFindPathWithoutAWorldLogTheirDebugLinesFromInit) {
  test::LogCapture logs;
  log::Options loud;
  loud.colour = false;
  loud.filter = *log::Filter::parse("debug");
  log::install(loud);
  auto vm = test::make_engine();
  ASSERT_TRUE(test::load(vm, "walker", R"(
    seen = tostring(game.line_of_sight({ x = 0, y = 0, z = 0 }, { x = 1, y = 0, z = 0 }))
    local route, why = game.find_path({ x = 0, y = 0, z = 0 }, { x = 1, y = 0, z = 0 })
    seen = seen .. " " .. tostring(route) .. " " .. why
  )"));
  log::install(log::Options{.filter = {}, .colour = false});
  EXPECT_EQ(run(vm, "walker", "return seen"), "nil nil no world");
  const auto sight = logs.containing(
      "game.line_of_sight was asked while there was no world to look through; it is "
      "available from on_tick and an entity's on_step, and not from on_generate");
  ASSERT_EQ(sight.size(), 1u);
  EXPECT_NE(sight[0].find("DEBUG ostrel_core::script::lua_vm"), std::string::npos) << sight[0];
  EXPECT_NE(sight[0].find("mod_id=\"walker\""), std::string::npos) << sight[0];
  const auto paths = logs.containing("game.find_path was asked while there was no world to search");
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_NE(paths[0].find("mod_id=\"walker\""), std::string::npos) << paths[0];
}

TEST(Perception, SightQuestionsReadTheirArgumentsAndBuildTheirAnswers) {
  auto vm = test::make_engine();
  ASSERT_TRUE(test::load(vm, "m", ""));
  auto sight = std::make_shared<Sight>();
  vm.set_sight_access(sight);

  // line_of_sight: the domain of the first point, fractions kept; the service's blocked is false.
  EXPECT_EQ(
      eval(vm, "game.line_of_sight({ x = 0.5, y = 1, z = 2, domain = 'moon' }, { x = 3, y = 4, z = 5.25 })"),
      "nil");
  sight->blocked = false;
  EXPECT_EQ(eval(vm, "game.line_of_sight({ x = 0, y = 0, z = 0 }, { x = 1, y = 0, z = 0 })"), "true");
  sight->blocked = true;
  EXPECT_EQ(eval(vm, "game.line_of_sight({ x = 0, y = 0, z = 0 }, { x = 1, y = 0, z = 0 })"), "false");
  EXPECT_EQ(eval(vm, "game.line_of_sight({ x = 0, y = 0 }, { x = 1, y = 0, z = 0 })"),
            "error: line_of_sight: bad field `z` (expected number, got nil)");

  // surface_at: 64 blocks down unless told; dry ground has no fluid keys, a pond has both.
  sight->surface = sight::SurfaceBlock{63, 0x7FFFFFF, 4};
  EXPECT_EQ(eval(vm, "game.surface_at({ x = 3, z = -4, from = 80 })"),
            "{material=4,occupancy=134217727,y=63}");
  sight->surface = sight::SurfaceFluid{62, static_cast<std::uint16_t>(2 << 5 | 18)};
  EXPECT_EQ(
      eval(vm,
           "game.surface_at({ x = 3, z = -4, from = 80, depth = 9, skip_passable = true, domain = 'moon' })"),
      "{fluid=2,material=0,occupancy=0,volume=18,y=62}");
  EXPECT_EQ(eval(vm, "game.surface_at({ x = 3, from = 80 })"),
            "error: surface_at: bad field `z` (expected integer, got nil)");
  EXPECT_EQ(sight->asked[3], "surface overworld 3,-4 from 80 depth 64 false false");
  EXPECT_EQ(sight->asked[4], "surface moon 3,-4 from 80 depth 9 true false");
  EXPECT_EQ(sight->asked[0], "los moon 0.5,1,2 3,4,5.25");

  // looking_at: a cell, an entity without an owner and one with.
  sight->looked = sight::LookedCell{"overworld", coords::SubNodePos{-1, 200, 7}, {0, 1, 0}, 9};
  EXPECT_EQ(eval(vm, "game.looking_at('" + kPlayer + "')"),
            "{domain=overworld,face={x=0,y=1,z=0},material=9,x=-1,y=200,z=7}");
  sight->looked = sight::LookedEntity{"moon", ent::EntityId::of(3, 1), std::nullopt};
  EXPECT_EQ(eval(vm, "game.looking_at('" + kPlayer + "')"), "{domain=moon,entity=4294967299}");
  sight->looked = sight::LookedEntity{"moon", ent::EntityId::of(3, 1), test::player(0xAB)};
  std::string owner;
  for (int i = 0; i < 32; ++i) owner += "ab";  // lower case, two digits a byte
  EXPECT_EQ(eval(vm, "game.looking_at('" + kPlayer + "').owner"), owner);
  EXPECT_EQ(eval(vm, "game.looking_at('abc')"),
            "error: looking_at takes a player UUID in hex, as a hook event reports one");
}

TEST(Perception, FindPathOptionsAndRoutes) {
  auto vm = test::make_engine();
  ASSERT_TRUE(test::load(vm, "m", ""));
  auto paths = std::make_shared<Paths>();
  vm.set_path_access(paths);
  const std::string ends = "{ x = 1.5, y = 2, z = -3.25, domain = 'moon' }, { x = 9, y = 2, z = 0 }";
  // No options, an empty table, a text budget and a negative one: all run with the defaults.
  for (const char* options : {"", ", {}", ", { budget = 'x' }", ", { budget = -5 }"}) {
    SCOPED_TRACE(options);
    paths->asked.clear();
    EXPECT_EQ(eval(vm, "game.find_path(" + ends + options + ")"), "nil | unreachable");
    ASSERT_EQ(paths->asked.size(), 1u);
    EXPECT_EQ(paths->asked[0], "path moon 1.5,2,-3.25 9,2,0 budget 2000 height 2 step 1 drop 3");
  }
  // Values pass unchanged, a negative drop included.
  paths->asked.clear();
  paths->route = std::unexpected(path::PathFailure::OverBudget);
  EXPECT_EQ(
      eval(vm, "game.find_path(" + ends + ", { budget = 50000, height = 3, step_up = 0, max_drop = -2 })"),
      "nil | budget");
  EXPECT_EQ(paths->asked[0], "path moon 1.5,2,-3.25 9,2,0 budget 50000 height 3 step 0 drop -2");
  // A route: block centres across, the block's floor up; start first.
  paths->route = std::vector<BlockPos>{{1, 2, -4}, {2, 2, -4}, {-7, -1, 0}};
  EXPECT_EQ(eval(vm, "game.find_path(" + ends + ")"),
            "[{x=1.5,y=2.0,z=-3.5},{x=2.5,y=2.0,z=-3.5},{x=-6.5,y=-1.0,z=0.5}]");
}

TEST(Perception, SteeringPatchesTheDriveWithTheGaitNamedExactly) {
  auto vm = test::make_engine();
  ASSERT_TRUE(test::load(vm, "m", ""));
  auto entities = std::make_shared<Entities>();
  auto paths = std::make_shared<Paths>();
  vm.set_entity_access(entities);
  vm.set_path_access(paths);
  ent::Entity tall;
  tall.transform = ent::component::Transform::from_world(-3.5, 64.0, 10.0);
  tall.collider = phys::Shape{1.8f, 5.4f};  // a body 1.8 blocks tall
  entities->live[7] = tall;
  ent::Entity marker;
  marker.transform = tall.transform;
  entities->live[8] = marker;
  ent::Entity giant = tall;
  giant.collider = phys::Shape{3.0f, 9.0f};
  entities->live[9] = giant;

  paths->steering = path::Steering{0.6f, -0.8f, true, false};
  const std::string target = "{ x = 4, y = 64, z = 10, domain = 'moon' }";
  EXPECT_EQ(eval(vm, "game.steer_entity(7, " + target + ", 'sprint')"), "true");
  ASSERT_EQ(entities->patches.size(), 1u);
  EXPECT_EQ(entities->patches[0].drive, (phys::Intent{0.6f, -0.8f, phys::Gait::Sprint, true, false}));
  EXPECT_FALSE(entities->patches[0].pos || entities->patches[0].speed || entities->patches[0].velocity);
  // Only the exact names choose a gait.
  const std::pair<const char*, phys::Gait> gaits[] = {{"'Sprint'", phys::Gait::Walk},
                                                      {"'sneak'", phys::Gait::Sneak},
                                                      {"nil", phys::Gait::Walk},
                                                      {"'walk'", phys::Gait::Walk}};
  for (const auto& [name, gait] : gaits) {
    SCOPED_TRACE(name);
    entities->patches.clear();
    EXPECT_EQ(eval(vm, "game.steer_entity(7, " + target + ", " + name + ")"), "true");
    ASSERT_EQ(entities->patches.size(), 1u);
    EXPECT_EQ(entities->patches[0].drive->gait, gait);
  }
  // The body's headroom in blocks: one more than its whole blocks; a marker needs one.
  paths->asked.clear();
  eval(vm, "game.steer_entity(8, " + target + ")");
  eval(vm, "game.steer_entity(9, " + target + ")");
  EXPECT_EQ(paths->asked, (std::vector<std::string>{"steer moon -3.5,64,10 4,64,10 height 1",
                                                    "steer moon -3.5,64,10 4,64,10 height 4"}));
  paths->asked.clear();
  eval(vm, "game.steer_entity(7, " + target + ")");
  EXPECT_EQ(paths->asked, (std::vector<std::string>{"steer moon -3.5,64,10 4,64,10 height 2"}));

  // Arrived is false; no answer and a despawned entity are nil, patching nothing.
  paths->steering = path::Steering{0.0f, 0.0f, false, true};
  EXPECT_EQ(eval(vm, "game.steer_entity(7, " + target + ")"), "false");
  entities->patches.clear();
  paths->steering = std::nullopt;
  EXPECT_EQ(eval(vm, "game.steer_entity(7, " + target + ")"), "nil");
  paths->steering = path::Steering{1.0f, 0.0f, false, false};
  EXPECT_EQ(eval(vm, "game.steer_entity(70, " + target + ")"), "nil");
  EXPECT_TRUE(entities->patches.empty());
  // A poisoned path slot is nil too, never an error.
  vm.slots().paths->poison();
  EXPECT_EQ(eval(vm, "game.steer_entity(7, " + target + ")"), "nil");
  EXPECT_EQ(eval(vm, "game.steer_entity('7', " + target + ")"),
            "error: an entity id must be an integer, not string");
}

TEST(Perception, HeadingIsTheTableArctangentOfTheGroundDirection) {
  auto vm = test::make_engine();
  ASSERT_TRUE(test::load(vm, "m", ""));
  const auto bits = [&](const char* dx, const char* dz) {
    const std::string got =
        run(vm, "m", fmt::format("return string.format('%.17g', game.heading({}, {}))", dx, dz));
    return std::bit_cast<std::uint32_t>(static_cast<float>(std::stod(got)));
  };
  struct Case {
    const char* dx;
    const char* dz;
    std::uint32_t want;
  };
  const Case cases[] = {
      {"0", "1", 0},
      {"1", "0", std::bit_cast<std::uint32_t>(1.5707964f)},
      {"0", "-1", std::bit_cast<std::uint32_t>(3.1415927f)},
      {"-1", "0", std::bit_cast<std::uint32_t>(-1.5707964f)},
      {"0", "0", 0},
      {"math.huge", "1", 0},
      {"0/0", "1", 0},
      {"1", "1", detgen::trig::kAtanUnitBits[256]},
      {"1", "3", 0x3EA4BC5F},
      {"-3", "-1", 0xBFF23EF3},
      {"-0.0", "-1", std::bit_cast<std::uint32_t>(3.1415927f)},  // negative zero counts as zero
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(fmt::format("heading({}, {})", c.dx, c.dz));
    EXPECT_EQ(bits(c.dx, c.dz), c.want);
  }
  EXPECT_EQ(eval(vm, "game.heading({}, 1)"),
            "error: bad argument #1 to 'heading' (expected number, got table)");
}

}  // namespace
}  // namespace ostrel_core::script::lua_vm
