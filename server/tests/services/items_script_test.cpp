// The inventory, tool, container and plan functions of `game` over the server's own services:
// carried items and held tools on the player hub, named containers saved with the world, plans
// captured from resident chunks, stored, reopened and stamped; and units conserved while a
// script and a connection thread move the same stacks.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "base/log.hpp"
#include "containers/containers.hpp"
#include "hub/hub.hpp"
#include "plans/shared.hpp"
#include "plans/stamps.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "script/runtime_eval.hpp"
#include "services/carried.hpp"
#include "services/held_tools.hpp"
#include "support/hub_fixture.hpp"
#include "support/script_engine.hpp"
#include "support/temp_dir.hpp"
#include "support/test_world.hpp"
#include "world/world.hpp"

namespace ostrel_server::handle {
namespace {

namespace block = ostrel_core::block;
using ostrel_core::coords::BlockPos;
using ostrel_core::inventory::Stack;
using ostrel_core::material::MaterialId;
using ostrel_core::script::lua_vm::LuaVm;
using test::player;
using transport::endpoint::kSpawn;

constexpr ostrel_core::material::MaterialId kStone = 2, kGlass = 3, kGem = 5;
constexpr std::uint32_t kFull = 0x7FFFFFF;

// Players 1 and 2 are in the world; 3 is not.
const std::string kP1 = player(1).to_hex();
const std::string kP2 = std::string(64, 'C');  // player(0xCC), written in upper case
const std::string kP3 = player(3).to_hex();

Stack stone(std::uint32_t units) { return Stack{.material = kStone, .units = units}; }

// Records every write of a stamp as "x,y,z material mask".
struct Writes final : plans::EditQueue {
  std::vector<std::string> seen;
  plans::Queued queue_seed(std::string_view, const transport::endpoint::Seed& s) override {
    std::visit(
        [&](const auto& v) {
          if constexpr (std::is_same_v<std::remove_cvref_t<decltype(v.pos)>, BlockPos>) {
            std::uint32_t mask = kFull;
            if constexpr (requires { v.mask; }) mask = v.mask;
            seen.push_back(fmt::format("{},{},{} {} {:#x}", v.pos.x, v.pos.y, v.pos.z, v.material, mask));
          } else {
            seen.push_back("a cell");
          }
        },
        s);
    return plans::Queued::Queued;
  }
  plans::Queued queue_merge(std::string_view, BlockPos pos, MaterialId m, std::uint32_t mask) override {
    seen.push_back(fmt::format("{},{},{} {} {:#x}", pos.x, pos.y, pos.z, m, mask));
    return plans::Queued::Queued;
  }
  bool is_whole(MaterialId) const override { return false; }
};

// The simulation's engine with the server's item and plan services in its slots, over a world in
// a temporary directory that can be saved and opened again.
struct Server {
  ostrel_core::test::TempDir dir;
  std::shared_ptr<lease::WorldSlot> world = std::make_shared<lease::WorldSlot>();
  std::shared_ptr<transport::endpoint::Shared> hub;
  std::shared_ptr<const plans::Names> names = std::make_shared<const plans::Names>(
      std::map<std::string, MaterialId, std::less<>>{{"test:stone", kStone}, {"test:glass", kGlass}});
  std::shared_ptr<plans::Stamps> stamps = std::make_shared<plans::Stamps>(names);
  std::shared_ptr<containers::Shared> boxes;
  LuaVm vm = ostrel_core::test::make_engine();

  Server() {
    ostrel_core::log::Options plain;
    plain.colour = false;
    ostrel_core::log::install(plain);
    transport::endpoint::HubInit init;
    init.item_materials = {kGem};
    init.tools = {{"m:pick", ostrel_core::script::records::Tool{.id = "m:pick"}}};
    hub = test::make_hub(std::move(init));
    for (std::uint8_t p : {1, 0xCC}) {
      hub->add_player(player(p), kSpawn);
      hub->ensure_inventory(player(p));
    }
    for (const char* mod : {"m", "other"}) EXPECT_TRUE(ostrel_core::test::load(vm, mod, ""));
    open();
    vm.set_inventory_access(std::make_shared<Carried>(hub));
    vm.set_tools_access(std::make_shared<HeldTools>(hub));
    vm.set_plan_access(std::make_shared<plans::Shared>(world, names, stamps));
  }

  // Opens the world into the slot and restores its containers into a fresh handle.
  void open() {
    {
      auto g = world->lock();
      (*g)->emplace(test::open_test_world(dir.path(), {"test:stone", "test:glass"}));
    }
    boxes = std::make_shared<containers::Shared>(hub, [w = world](std::string_view name) -> std::optional<containers::View> {
      auto g = w->lock();
      if (!g || !(*g)->has_value()) return std::nullopt;
      return containers::stored_view(***g, name);
    });
    with_world_taken([&](world::World& w) { EXPECT_TRUE(containers::restore_all(*boxes, w)); });
    vm.set_container_access(boxes);
  }
  void save() {
    with_world_taken([&](world::World& w) { EXPECT_TRUE(containers::flush(*boxes, w)); });
  }
  // Runs fn on the world out of its slot, as the simulation works on it between lendings: the
  // containers lock is never taken under the slot's.
  template <class F>
  void with_world_taken(F&& fn) {
    std::optional<world::World> w;
    std::swap(w, **world->lock());
    ASSERT_TRUE(w.has_value());
    fn(*w);
    std::swap(w, **world->lock());
  }
  // Saves the containers, closes the world and opens it again.
  void reopen() {
    save();
    {
      auto g = world->lock();
      ASSERT_TRUE(world::World::close(std::move(***g)));
      (*g)->reset();
    }
    open();
  }
  // One block of a resident chunk of "overworld", its chunk made resident as air first.
  void put(BlockPos at, const block::BlockValue& v) {
    auto g = world->lock();
    auto& chunks = (**g)->space_of("overworld").chunks;
    auto& c = chunks.try_emplace(at.chunk(), ostrel_core::chunk::Chunk::filled(at.chunk(), 0)).first->second;
    c.set_block_local(at.local(), v);
  }
  void air(BlockPos lo, BlockPos hi) {
    for (int z = lo.z; z <= hi.z; z += 16)
      for (int y = lo.y; y <= hi.y; y += 16)
        for (int x = lo.x; x <= hi.x; x += 16) put({x, y, z}, block::BlockValue::whole(0));
  }

  std::string eval(std::string expr, std::string_view mod = "m") {
    for (auto [from, to] : {std::pair{"P1", kP1}, std::pair{"P2", kP2}, std::pair{"P3", kP3}}) {
      for (auto at = expr.find(from); at != std::string::npos; at = expr.find(from)) {
        expr.replace(at, 2, "'" + to + "'");
      }
    }
    return ostrel_core::test::eval(vm, expr, mod);
  }
  std::uint64_t carried(std::uint8_t p) { return hub->slots_of(player(p))->total_units(); }
};

struct Step {
  const char* expr;
  const char* want;
};
struct Case {
  const char* name;
  std::function<void(Server&)> setup;
  std::vector<Step> steps;
};

void run_cases(std::span<const Case> cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Server s;
    if (c.setup) c.setup(s);
    for (const auto& step : c.steps) {
      SCOPED_TRACE(step.expr);
      EXPECT_EQ(s.eval(step.expr), step.want);
    }
  }
}

TEST(ItemsScript, CarriedItems) {
  const Case cases[] = {
      {"a stack of nothing changes nothing",
       [](Server& s) { s.hub->take_inventory_dirty(player(1)); },
       {{"game.give(P1, { material = 2, count = 0 })", "false 0"},
        {"game.give(P1, { material = 2, units = 0 })", "false 0"},
        {"game.give(P1, { material = 0 })", "false 0"},
        {"game.inventory(P1)", "{}"}}},
      {"a player not connected gets nothing and every unit is answered",
       nullptr,
       {{"game.give(P3, { material = 2, count = 3 })", "false 81"},
        {"game.give(P3, { material = 2, units = 4294967295 })", "false 4294967295"},
        {"game.inventory(P3)", "{}"},
        {"game.held(P3)", "nil"},
        {"game.take(P3, { material = 2 })", "0"}}},
      {"slot 1 takes a stack whole or not at all",
       nullptr,
       {{"game.give(P1, { material = 2, units = 5, slot = 1 })", "true 0"},
        {"game.give(P1, { material = 3, units = 5, slot = 1 })", "false 5"},
        {"game.give(P1, { material = 2, units = 2426, slot = 1 })", "false 2426"},
        {"game.give(P1, { material = 2, units = 5, slot = 99 })", "false 5"},
        {"game.slot(P1, 'player:main', 1)", "{blocks=0,count=0,material=2,nodes=5,units=5}"}}},
      {"units near 2^32: what does not fit is answered, what went in comes back out",
       nullptr,
       {{"game.give(P1, { material = 2, units = 4294967295 })", "false 4294345215"},  // 256 slots of 2430
        {"game.take(P1, { material = 2, units = 4294967295 })", "622080"},
        {"game.inventory(P1)", "{}"}}},
      {"loose stone never comes out of a cut or a stack with a detail",
       [](Server& s) {
         s.hub->give(player(1), "player:main", 0, Stack{.material = kStone, .units = 18, .shape = 0x1FF});
         s.hub->give(player(1), "player:main", 1, Stack{.material = kStone, .units = 27, .detail = "worn"});
         s.hub->give(player(1), "player:main", 2, stone(10));
       },
       {{"game.take(P1, { material = 2, units = 100 })", "10"},
        {"game.inventory(P1)", "[{blocks=1,count=1,detail=worn,material=2,nodes=0,units=27},"
                               "{blocks=0,count=2,material=2,nodes=18,shape=511,units=18}]"},
        {"game.take(P1, { material = 2, units = 100, detail = 'worn' })", "27"}}},
      {"a registered item comes out in whole items",
       [](Server& s) { s.hub->give(player(1), "player:main", 0, Stack{.material = kGem, .units = 54}); },
       {{"game.take(P1, { material = 5, units = 10 })", "0"},
        {"game.take(P1, { material = 5, units = 40 })", "27"},
        {"game.give(P1, { material = 5, units = 40 })", "false 13"}}},
      {"slot 2 takes from the second slot only",
       [](Server& s) {
         for (std::size_t i = 0; i < 3; ++i) s.hub->give(player(1), "player:main", i, stone(5 + 2 * i));
       },
       {{"game.take(P1, { material = 2, units = 100, slot = 2 })", "7"},
        {"game.slot(P1, 'player:main', 2)", "nil"},
        {"game.inventory(P1)", "[{blocks=0,count=0,material=2,nodes=14,units=14}]"}}},
      {"slots past the end and views the player lacks read as nil",
       [](Server& s) { s.hub->give(player(1), "player:main", 27, stone(3)); },
       {{"game.slot(P1, 'player:main', 99)", "nil"},
        {"game.slot(P1, 'player:main', 28)", "{blocks=0,count=0,material=2,nodes=3,units=3}"},
        {"game.slot(P1, 'nowhere', 1)", "nil"},
        {"game.slot(P1, 'player:main', 2^40)", "nil"},
        {"game.inventory(P1, 'nowhere')", "{}"},
        {"game.slot(P1, 'player:main', 0)", "error: game.slot: slots count from 1, as the screens number them"}}},
      {"ten cut pieces in three slots are one entry",
       [](Server& s) {
         const std::uint32_t pieces[] = {4, 3, 3};
         for (std::size_t i = 0; i < 3; ++i) {
           s.hub->give(player(1), "player:main", i, Stack{.material = kStone, .units = 9 * pieces[i], .shape = 0x1FF});
         }
       },
       {{"game.inventory(P1)", "[{blocks=3,count=10,material=2,nodes=9,shape=511,units=90}]"}}},
      {"the held stack is the selected hotbar slot's",
       [](Server& s) {
         s.hub->give(player(1), "player:main", 0, stone(1));
         s.hub->give(player(1), "player:main", 4, stone(40));
       },
       {{"game.held(P1)", "{blocks=0,count=0,material=2,nodes=1,units=1}"}}},
      {"a stack table's slot 0 is refused before anything moves",
       nullptr,
       {{"game.give(P1, { material = 2, slot = 0 })",
         "error: container slots are numbered from 1, and 0 is not one of them"},
        {"game.take(P1, { material = 2, slot = 0 })",
         "error: container slots are numbered from 1, and 0 is not one of them"},
        {"game.inventory(P1)", "{}"}}},
  };
  run_cases(cases);

  // A give marks the inventory to be sent again; a refused one does not.
  Server s;
  s.hub->take_inventory_dirty(player(1));
  EXPECT_EQ(s.eval("game.give(P1, { material = 3, units = 5, slot = 1 })"), "true 0");
  EXPECT_TRUE(s.hub->take_inventory_dirty(player(1)));
  EXPECT_EQ(s.eval("game.give(P1, { material = 2, units = 5, slot = 1 })"), "false 5");
  EXPECT_FALSE(s.hub->take_inventory_dirty(player(1)));
  // The selected slot, when the client chose one.
  s.hub->give(player(1), "player:main", 4, stone(40));
  s.hub->select_slot(player(1), 4);
  EXPECT_EQ(s.eval("game.held(P1)"), "{blocks=1,count=1,material=2,nodes=13,units=40}");
}

TEST(ItemsScript, HeldTools) {
  Server s;
  EXPECT_EQ(s.eval("game.get_tool(P1)"), "nil");
  EXPECT_EQ(s.eval("game.set_tool(P1, 'm:pick')"), "true");
  EXPECT_EQ(s.eval("game.get_tool(P1)"), "m:pick");
  EXPECT_EQ(s.eval("game.set_tool(P1, 'm:shovel')"), "false");  // nobody registered it
  EXPECT_EQ(s.eval("game.get_tool(P1)"), "m:pick");
  EXPECT_EQ(s.eval("game.set_tool(P3, 'm:pick')"), "false");
  EXPECT_EQ(s.eval("game.set_tool(P1, nil)"), "true");
  EXPECT_EQ(s.eval("game.get_tool(P1)"), "nil");
  EXPECT_EQ(s.eval("game.get_tool('abc')"), "error: get_tool takes a player UUID in hex, as a hook event reports one");
  EXPECT_EQ(s.eval("game.set_tool('abc', 'm:pick')"),
            "error: set_tool takes a player UUID in hex, as a hook event reports one");
}

TEST(ItemsScript, Containers) {
  const Case cases[] = {
      {"a second size is refused and the first kept",
       nullptr,
       {{"game.make_container('c', 3)", "true"},
        {"game.make_container('c', 9)", "false"},
        {"game.container_give('c', { material = 2, slot = 3 })", "27"},
        {"game.container_give('c', { material = 2, slot = 4 })", "0"},
        {"game.make_container('c', 0)", "error: a container has 1 to 256 slots, and this one asked for 0"},
        {"game.make_container('d', 257)", "error: a container has 1 to 256 slots, and this one asked for 257"},
        {"game.make_container('', 1)",
         "error: game.make_container needs a name; it is how the container is found again"},
        {"game.make_container('d', 1), game.make_container('e', 256)", "true true"}}},
      {"one opener at a time",
       [](Server& s) { s.boxes->ensure("c", 2); },
       {{"game.open_container('c', P1)", "true"},
        {"game.open_container('c', P2)", "false"},
        {"game.open_container('c', P1)", "true"},
        {"game.open_container('c', P3)", "false"},
        {"game.open_container('nope', P1)", "false"},
        {"game.close_container('c', P2)", "false"},
        {"game.close_container('c', P1)", "true"},
        {"game.open_container('c', P2)", "true"}}},
      {"a stack in slot 5 of 27 is one entry",
       [](Server& s) { s.boxes->ensure("c", 27); },
       {{"game.container_give('c', { material = 2, units = 30, slot = 5 })", "30"},
        {"game.container('c')", "[{blocks=1,count=1,material=2,nodes=3,slot=5,units=30}]"},
        {"#game.container('c')", "1"}}},
      {"a held container is not broken",
       [](Server& s) {
         s.boxes->ensure("c", 2);
         s.boxes->give("c", 1, stone(8));
         s.boxes->open("c", player(0xCC));
       },
       {{"game.break_container('c')", "{}"},
        {"game.containers('')", "[c]"},
        {"game.container('c')", "[{blocks=0,count=0,material=2,nodes=8,slot=2,units=8}]"},
        {"game.close_container('c', P2)", "true"},
        {"game.break_container('c')", "[{blocks=0,count=0,material=2,nodes=8,units=8}]"},
        {"game.containers('')", "{}"},
        {"game.container_holder('c')", "nil"}}},
      {"a slot holds 90 items",
       [](Server& s) { s.boxes->ensure("c", 3); },
       {{"game.container_give('c', { material = 2, count = 90, slot = 2 })", "2430"},
        {"game.container_give('c', { material = 2, slot = 2 })", "0"},
        {"game.container_give('c', { material = 2, units = 4294967295 })", "4860"},
        {"game.container_take('c', { material = 2, units = 4294967295 })", "7290"}}},
      {"a name no container has",
       nullptr,
       {{"game.container_give('nope', { material = 2 })", "0"},
        {"game.container_take('nope', { material = 2 })", "0"},
        {"game.container('nope')", "{}"},
        {"game.break_container('nope')", "{}"},
        {"game.container_holder('nope')", "nil"},
        {"game.close_container('nope', P1)", "false"}}},
      {"names by prefix in byte order, a name equal to the prefix included",
       [](Server& s) {
         for (const char* n : {"b", "a:2", "ab", "a:1", "A", "a"}) s.boxes->ensure(n, 1);
       },
       {{"game.containers('a')", "[a,a:1,a:2,ab]"},
        {"game.containers('a:')", "[a:1,a:2]"},
        {"game.containers('')", "[A,a,a:1,a:2,ab,b]"},
        {"game.containers('c')", "{}"}}},
      {"loose stone never comes out of a cut or a stack with a detail",
       [](Server& s) {
         s.boxes->ensure("c", 3);
         s.boxes->give("c", 0, Stack{.material = kStone, .units = 9, .shape = 0x1FF});
         s.boxes->give("c", 1, Stack{.material = kStone, .units = 27, .detail = "x"});
         s.boxes->give("c", 2, stone(4));
       },
       {{"game.container_take('c', { material = 2, units = 100 })", "4"},
        {"game.container_take('c', { material = 2, shape = 0x1FF, units = 100 })", "9"},
        {"#game.container('c')", "1"}}},
  };
  run_cases(cases);

  Server s;
  s.boxes->ensure("c", 1);
  s.boxes->open("c", player(0xCC));
  EXPECT_EQ(s.eval("game.container_holder('c')"), std::string(64, 'c'));  // lower case
}

TEST(ItemsScript, AContainerWhoseLentViewVanishedOpensAgainWithItsStoredContents) {
  for (bool player_left : {false, true}) {
    SCOPED_TRACE(player_left ? "the holder left" : "the view was closed under it");
    Server s;
    test::LogLines log;
    EXPECT_EQ(s.eval("game.make_container('c', 4)"), "true");
    EXPECT_EQ(s.eval("game.container_give('c', { material = 2, units = 9 })"), "9");
    s.save();
    EXPECT_EQ(s.eval("game.open_container('c', P1)"), "true");
    EXPECT_EQ(s.eval("game.container_give('c', { material = 2, units = 5 })"), "5");
    if (player_left) {
      s.hub->forget_inventory(player(1));
    } else {
      ASSERT_TRUE(s.hub->with_slots(player(1), [](auto& slots) { return slots.close_view("c").has_value(); }));
    }
    EXPECT_EQ(s.eval("game.close_container('c', P1)"), "false");
    EXPECT_EQ(log.count("ERROR"), 1);
    EXPECT_EQ(log.count("container=\"c\""), 1);
    EXPECT_EQ(s.eval("game.container_holder('c')"), "nil");
    EXPECT_EQ(s.eval("game.open_container('c', P2)"), "true");
    EXPECT_EQ(s.eval("game.container('c')"), "[{blocks=0,count=0,material=2,nodes=9,slot=1,units=9}]");
  }
}

TEST(ItemsScript, ContainersMadeAndBrokenAreKeptAndGoneAfterAReopen) {
  Server s;
  EXPECT_EQ(s.eval("game.make_container('kept', 5), game.make_container('gone', 1)"), "true true");
  EXPECT_EQ(s.eval("game.container_give('kept', { material = 2, units = 40, slot = 4 })"), "40");
  EXPECT_EQ(s.eval("game.container_give('gone', { material = 3 })"), "27");
  s.save();
  EXPECT_EQ(s.eval("game.break_container('gone')"), "[{blocks=1,count=1,material=3,nodes=0,units=27}]");
  EXPECT_EQ(s.eval("game.make_container('late', 2)"), "true");
  s.reopen();
  EXPECT_EQ(s.eval("game.containers('')"), "[kept,late]");
  EXPECT_EQ(s.eval("game.container('kept')"), "[{blocks=1,count=1,material=2,nodes=13,slot=4,units=40}]");
  EXPECT_EQ(s.eval("game.make_container('kept', 9)"), "false");
  EXPECT_EQ(s.eval("game.container('gone')"), "{}");
}

TEST(ItemsScript, PlansCapturedStoredReopenedAndStamped) {
  Server s;
  test::LogLines log;
  s.air({0, 0, 0}, {31, 15, 15});
  s.put({1, 1, 1}, block::BlockValue::whole(kStone));
  s.put({2, 1, 1}, block::BlockValue::partial(kStone, 0x1FF));
  block::Cells mixed{};
  mixed[0] = kStone;
  mixed[1] = kGlass;
  s.put({17, 1, 1}, block::BlockValue::mixed(mixed));

  EXPECT_EQ(s.eval("game.plans.capture('big', { x = 0, y = 0, z = 0 }, { x = 64, y = 0, z = 0 })"), "nil too big");
  EXPECT_EQ(s.eval("game.plans.capture('far', { x = 0, y = 0, z = 0 }, { x = 0, y = 0, z = 40 })"), "nil not loaded");
  const char* hut = "{blocks=2,materials={test:stone=36},size={x=3,y=2,z=2}}";
  EXPECT_EQ(s.eval("game.plans.capture('hut', { x = 0, y = 0, z = 0 }, { x = 2, y = 1, z = 1 })"), hut);
  EXPECT_EQ(s.eval("game.plans.capture('hut2', { x = 2, y = 1, z = 1 }, { x = 0, y = 0, z = 0 })"), hut);
  EXPECT_EQ(s.eval("game.plans.info('hut')"), hut);
  EXPECT_EQ(s.eval("game.plans.capture('wide', { x = 1, y = 1, z = 1 }, { x = 17, y = 1, z = 1 })"),
            "{blocks=3,materials={test:glass=1,test:stone=37},size={x=17,y=1,z=1}}");
  EXPECT_EQ(s.eval("game.plans.list()"), "[hut,hut2,wide]");
  EXPECT_EQ(s.eval("game.plans.info('hut')", "other"), "nil");
  EXPECT_EQ(s.eval("game.plans.list()", "other"), "{}");
  EXPECT_EQ(s.eval("game.plans.forget('wide')"), "true");
  EXPECT_EQ(s.eval("game.plans.forget('wide')"), "false");
  EXPECT_EQ(s.eval("game.plans.stamp('never', { x = 0, y = 0, z = 0 })"), "false");

  s.reopen();
  EXPECT_EQ(s.eval("game.plans.list()"), "[hut,hut2]");
  EXPECT_EQ(s.eval("game.plans.info('hut')"), hut);
  EXPECT_EQ(s.eval("game.plans.stamp('hut', { x = 100, y = 5, z = -7 })"), "true");
  Writes writes;
  s.stamps->pump(writes);
  // Only the two non-empty blocks, where the plan put them; the rest of the box is left alone.
  std::sort(writes.seen.begin(), writes.seen.end());
  EXPECT_EQ(writes.seen, (std::vector<std::string>{"101,6,-6 2 0x7ffffff", "102,6,-6 2 0x1ff"}));

  // A store that cannot write: nil, "not saved", and the store's own ERROR line.
  s.air({0, 0, 0}, {0, 0, 0});
  {
    auto g = s.world->lock();
    auto drop = (**g)->db().connection().prepare("DROP TABLE mod_plans");
    ASSERT_TRUE(drop && drop->run());
  }
  EXPECT_EQ(s.eval("game.plans.capture('shed', { x = 0, y = 0, z = 0 }, { x = 1, y = 1, z = 1 })"), "nil not saved");
  EXPECT_EQ(log.count("could not save plan `shed` for mod `m`"), 1);
}

// A hook moves stone container -> player -> container while the player's connection clicks in
// the same slots (and, while the container is open, in its lent view): no unit is made or lost.
TEST(ItemsScriptStress, UnitsAreConservedBetweenAHookAndAConnectionClicking) {
  for (bool open : {false, true}) {
    SCOPED_TRACE(open ? "open" : "closed");
    Server s;
    s.boxes->ensure("c", 27);
    ASSERT_EQ(s.boxes->give("c", std::nullopt, stone(5000)), 5000u);
    ASSERT_EQ(s.hub->give(player(1), "player:main", std::nullopt, stone(3000)), 0u);
    if (open) {
      ASSERT_TRUE(s.boxes->open("c", player(1)));
    }
    const auto total = [&] {
      std::uint64_t n = s.carried(1);
      if (!open) {
        const auto box = s.boxes->slots("c");
        for (const auto& slot : *box) n += slot ? slot->units : 0;
      }
      return n;
    };
    ASSERT_EQ(total(), 8000u);

    std::atomic<bool> done{false};
    std::atomic<int> moves{0};
    std::thread clicker([&] {
      std::mt19937 rng(7);
      while (!done.load(std::memory_order_relaxed)) {
        const bool in_box = open && rng() % 2 == 0;
        if (s.hub->click_slot(player(1), in_box ? "c" : "player:main", rng() % 28,
                              static_cast<std::uint8_t>(rng() % 4), std::nullopt)) {
          moves.fetch_add(1, std::memory_order_relaxed);
        }
      }
    });
    // The hook starts once the connection has moved something.
    while (moves.load(std::memory_order_relaxed) == 0) std::this_thread::yield();
    const std::string hook = fmt::format(R"(
      local P, lost = '{}', 0
      for i = 1, 1000 do
        local t = game.container_take('c', {{ material = 2, units = 100 }})
        if t > 0 then
          local _, left = game.give(P, {{ material = 2, units = t }})
          if left > 0 then lost = lost + left - game.container_give('c', {{ material = 2, units = left }}) end
        end
        local u = game.take(P, {{ material = 2, units = 100 }})
        if u > 0 then
          local moved = game.container_give('c', {{ material = 2, units = u }})
          if moved < u then
            local _, left = game.give(P, {{ material = 2, units = u - moved }})
            lost = lost + left
          end
        end
      end
      return lost)",
                                         kP1);
    EXPECT_EQ(ostrel_core::test::run(s.vm, "m", hook), "0");
    done = true;
    clicker.join();
    EXPECT_EQ(total(), 8000u);
  }
}

}  // namespace
}  // namespace ostrel_server::handle
