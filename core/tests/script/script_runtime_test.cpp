// The runtime `game` functions over fake services: the frame (constants, empty answers, slots
// filled late, poisoned slots), set_block, the fluid and light functions.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "script/lua_vm/slots.hpp"
#include "script/runtime_eval.hpp"
#include "script/runtime_fakes.hpp"
#include "script/terrain_lua.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

using coords::BlockPos;
using test::run;

using test::eval;
using test::kDump;

TEST(RuntimeFrame, ConstantsAndEmptyAnswersFromTheFirstLineOfInit) {
  auto vm = test::make_engine();
  const std::string init = std::string(test::kDump) + R"(
    local at = { x = 1, y = 2, z = 3 }
    seen = dump({ game.CHUNK_BLOCKS, game.UNITS_PER_BLOCK, game.OCCUPANCY_FULL, game.ITEMS_PER_STACK,
                  game.AIR, game.mod_id, tostring(game.get_block(at)), game.set_block(at, "m:stone"), game.get_fluid(at),
                  game.set_fluid(at, {}), tostring(game.fluid_id("water")), game.get_light(at),
                  tostring(game.storage.get("k")), select("#", game.storage.set("k", {})),
                  game.storage.keys(), math.type(game.OCCUPANCY_FULL) })
  )";
  ASSERT_TRUE(test::load(vm, "m", init));
  EXPECT_EQ(run(vm, "m", "return seen"),
            "[16,27,134217727,90,0,m,nil,false,{empty=true,volume=0},false,nil,{b=0,g=0,r=0,sun=0},nil,0,{},"
            "integer]");
  // Each mod's own id.
  ASSERT_TRUE(test::load(vm, "other", ""));
  EXPECT_EQ(eval(vm, "game.mod_id", "other"), "other");
}

TEST(RuntimeFrame, AServiceInstalledAfterTheLoadIsSeen) {
  auto vm = test::make_engine();
  ASSERT_TRUE(test::load(vm, "m", "get = game.get_fluid"));
  auto fluids = std::make_shared<test::FakeFluids>();
  fluids->states[{"overworld", BlockPos{1, 2, 3}}] = fluid::Fluid::of(2, 18);
  vm.set_fluid_access(fluids);
  // The function captured during init.lua reaches the service installed since.
  EXPECT_EQ(eval(vm, "get({ x = 1, y = 2, z = 3 })"), "{empty=false,fluid=2,volume=18}");
}

TEST(RuntimeFrame, PoisonedSlotsRefuseWithTheirTexts) {
  struct Case {
    const char* name;
    std::function<void(LuaVm&)> poison;
    const char* code;
    const char* want;
  };
  const Case cases[] = {
      {"world lease", [](LuaVm& vm) { vm.slots().sight->poison(); },
       "game.get_block({ x = 0, y = 0, z = 0 })",
       "error: the world lease is poisoned; the simulation thread panicked"},
      {"edit queue", [](LuaVm& vm) { vm.slots().world_edit->poison(); },
       "game.set_block({ x = 0, y = 0, z = 0 }, 'm:stone')",
       "error: the edit queue is poisoned; the simulation thread panicked"},
      {"a bad mask first", [](LuaVm& vm) { vm.slots().world_edit->poison(); },
       "game.set_block({ x = 0, y = 0, z = 0 }, 'm:stone', 0)",
       "error: set_block: occupancy 0x0 is not a 27-bit mask with a cell in it"},
      {"fluid read", [](LuaVm& vm) { vm.slots().fluids->poison(); },
       "game.get_fluid({ x = 0, y = 0, z = 0 })",
       "error: the fluid store is poisoned; the simulation thread panicked"},
      {"fluid write", [](LuaVm& vm) { vm.slots().fluids->poison(); },
       "game.set_fluid({ x = 0, y = 0, z = 0 }, { fluid = 'm:water' })",
       "error: the fluid store is poisoned; the simulation thread panicked"},
      {"light", [](LuaVm& vm) { vm.slots().light->poison(); }, "game.get_light({ x = 0, y = 0, z = 0 })",
       "error: the light store is poisoned; the simulation thread panicked"},
      {"storage get", [](LuaVm& vm) { vm.slots().storage->poison(); }, "game.storage.get('k')",
       "error: the mod storage is poisoned; the simulation panicked"},
      {"storage set", [](LuaVm& vm) { vm.slots().storage->poison(); }, "game.storage.set('k', {})",
       "error: the mod storage is poisoned; the simulation panicked"},
      {"storage keys", [](LuaVm& vm) { vm.slots().storage->poison(); }, "game.storage.keys()",
       "error: the mod storage is poisoned; the simulation panicked"},
      // A poisoned domain registry answers as an empty one: it stops no write.
      {"domain registry", [](LuaVm& vm) { vm.slots().domains->poison(); },
       "game.set_fluid({ x = 0, y = 0, z = 0 }, { volume = 0 })", "false"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto vm = test::make_engine();
    ASSERT_TRUE(test::load(vm, "m", ""));
    c.poison(vm);
    EXPECT_EQ(eval(vm, c.code), c.want);
  }
}

TEST(RuntimeFrame, AModStoppedAtItsMemoryLimitWhileAnAnswerIsBuiltLeavesTheSlotWorking) {
  auto vm = test::make_engine(32ull << 20);
  auto fluids = std::make_shared<test::FakeFluids>();
  fluids->states[{"overworld", BlockPos{0, 0, 0}}] = fluid::Fluid::of(1, 5);
  ASSERT_TRUE(test::load(vm, "hog", R"(
    hoard = {}
    game.register_on_tick(function()
      local at = { x = 0, y = 0, z = 0 }
      while true do hoard[#hoard + 1] = game.get_fluid(at) end
    end)
  )"));
  ASSERT_TRUE(test::load(vm, "reader", ""));
  ASSERT_TRUE(vm.freeze());
  vm.set_fluid_access(fluids);
  auto ticked = vm.tick(1);
  ASSERT_TRUE(ticked.has_value());
  ASSERT_EQ(ticked->size(), 1u);
  EXPECT_EQ((*ticked)[0].mod_id, "hog");
  EXPECT_EQ((*ticked)[0].error.kind(), vm::ScriptErrorKind::OutOfMemory);
  EXPECT_FALSE(vm.slots().fluids->poisoned());
  EXPECT_EQ(eval(vm, "game.get_fluid({ x = 0, y = 0, z = 0 })", "reader"), "{empty=false,fluid=1,volume=5}");
}

// ---- get_block --------------------------------------------------------------------------------

TEST(GetBlock, ReadsUniformAndMixedBlocks) {
  auto vm = test::make_engine();
  ASSERT_TRUE(test::load(vm, "m", ""));
  auto sight = std::make_shared<test::FakeSight>();
  block::Cells two{};
  two[0] = 7;
  two[26] = 9;
  two[13] = 9;
  sight->blocks = {{{"overworld", BlockPos{0, 0, 0}}, sight::Block{0, 0}},
                   {{"overworld", BlockPos{1, 0, 0}}, sight::Block{7, 0x7FFFFFF}},
                   {{"overworld", BlockPos{2, 0, 0}}, sight::Block{7, 511}},
                   {{"overworld", BlockPos{3, 0, 0}}, sight::Mixed{two}},
                   {{"dun/a", BlockPos{0, 0, 0}}, sight::Block{9, 0x7FFFFFF}}};
  vm.set_sight_access(sight);
  std::string cells = "[7";
  for (int i = 1; i < 27; ++i) cells += i == 13 || i == 26 ? ",9" : ",0";
  cells += "]";
  const std::pair<const char*, std::string> cases[] = {
      {"{ x = 0, y = 0, z = 0 }", "{material=0,occupancy=0}"},
      {"{ x = 1, y = 0, z = 0 }", "{material=7,occupancy=134217727}"},
      {"{ x = 2, y = 0, z = 0 }", "{material=7,occupancy=511}"},
      {"{ x = 3, y = 0, z = 0 }",
       "{cells=" + cells + ",occupancy=" + std::to_string(1 | 1 << 13 | 1 << 26) + "}"},
      {"{ x = 0, y = 0, z = 0, domain = 'dun/a' }", "{material=9,occupancy=134217727}"},
      {"{ x = 0, y = 0, z = 0, domain = '' }", "{material=0,occupancy=0}"},
      {"{ x = 4, y = 0, z = 0 }", "nil"},  // not resident: nil, never air
      {"{ x = 0, y = 0, z = 0, domain = 'nowhere' }", "nil"},
      {"{ x = 0, y = 0, z = 0.5 }", "{material=0,occupancy=0}"},
      {"{ x = 0, y = 0, z = 'a' }", "error: get_block: bad field `z` (expected integer, got string)"},
      {"5", "error: bad argument #1 to 'get_block' (expected table, got integer)"},
  };
  for (const auto& [pos, want] : cases) {
    SCOPED_TRACE(pos);
    EXPECT_EQ(eval(vm, std::string("game.get_block(") + pos + ")"), want);
  }
  // A world not lent at this moment reads as no world.
  sight->lent = false;
  EXPECT_EQ(eval(vm, "game.get_block({ x = 1, y = 0, z = 0 })"), "nil");
}

// ---- set_block --------------------------------------------------------------------------------

TEST(SetBlock, WritesGoToTheOperationTheMaskAndMergeChoose) {
  struct Case {
    const char* code;
    const char* answer;
    const char* call;  // "" when nothing reaches the queue
  };
  const Case cases[] = {
      {"{ x = 1, y = 2, z = 3 }, 'm:stone'", "true", "set_block overworld 1,2,3 m:stone"},
      {"{ x = 1, y = 2, z = 3 }, 'engine:air'", "true", "set_block overworld 1,2,3 engine:air"},
      {"{ x = 1, y = 2, z = 3 }, 'm:stone', game.OCCUPANCY_FULL, { merge = true }", "true",
       "set_block overworld 1,2,3 m:stone"},
      {"{ x = 1, y = 2, z = 3 }, 'm:stone', 16", "true", "set_partial overworld 1,2,3 m:stone 0x10"},
      {"{ x = 1, y = 2, z = 3 }, 'm:stone', 16, { merge = false }", "true",
       "set_partial overworld 1,2,3 m:stone 0x10"},
      {"{ x = 1, y = 2, z = 3 }, 'm:stone', 16, { merge = true }", "true",
       "merge_partial overworld 1,2,3 m:stone 0x10"},
      {"{ x = 1, y = 2, z = 3 }, 'm:stone', 16, { merge = 0 }", "true",
       "merge_partial overworld 1,2,3 m:stone 0x10"},
      {"{ x = 1.5, y = -1.5, z = 2^31 - 1, domain = '' }, 'm:stone'", "true",
       "set_block overworld 1,-1,2147483647 m:stone"},
      {"{ x = -2^31, y = 0, z = 0, domain = 'dun/a' }, 'm:stone'", "true",
       "set_block dun/a -2147483648,0,0 m:stone"},
      {"{ x = 0, y = 0, z = 0 }, 'm:stone', 0",
       "error: set_block: occupancy 0x0 is not a 27-bit mask with a cell in it", ""},
      {"{ x = 0, y = 0, z = 0 }, 'm:stone', 2^27",
       "error: set_block: occupancy 0x8000000 is not a 27-bit mask with a cell in it", ""},
      {"{ x = 0, y = 0, z = 0 }, 'm:stone', -1",
       "error: bad argument #3 to 'set_block' (-1 is out of range for an unsigned 32-bit integer)", ""},
      {"{ x = 0, y = 0, z = 0 }, 'm:stone', 2^32",
       "error: bad argument #3 to 'set_block' (4294967296 is out of range for an unsigned 32-bit integer)",
       ""},
      {"{ x = 0/0, y = 0, z = 0 }, 'm:stone'",
       "error: set_block: bad field `x` (NaN is out of range for a signed 32-bit integer)", ""},
      {"{ x = 0, y = 2^31, z = 0 }, 'm:stone'",
       "error: set_block: bad field `y` (2147483648 is out of range for a signed 32-bit integer)", ""},
      {"{ x = 0, y = 0, z = '5' }, 'm:stone'",
       "error: set_block: bad field `z` (expected integer, got string)", ""},
      {"{ x = 0, z = 0 }, 'm:stone'", "error: set_block: bad field `y` (expected integer, got nil)", ""},
      {"{ x = 0, y = 0, z = 0, domain = {} }, 'm:stone'",
       "error: set_block: bad field `domain` (expected string, got table)", ""},
      {"nil, 'm:stone'", "error: bad argument #1 to 'set_block' (expected table, got nil)", ""},
      {"{ x = 0, y = 0, z = 0 }, {}", "error: bad argument #2 to 'set_block' (expected string, got table)",
       ""},
      {"{ x = 0, y = 0, z = 0 }, 'm:stone', 16, 5",
       "error: bad argument #4 to 'set_block' (expected table, got integer)", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    auto vm = test::make_engine();
    ASSERT_TRUE(test::load(vm, "m", ""));
    auto edits = std::make_shared<test::FakeEdits>();
    vm.set_world_edit(edits);
    EXPECT_EQ(eval(vm, std::string("game.set_block(") + c.code + ")"), c.answer);
    const std::vector<std::string> want =
        *c.call == '\0' ? std::vector<std::string>{} : std::vector<std::string>{c.call};
    EXPECT_EQ(edits->calls, want);
  }
}

TEST(SetBlock, AnswersTheQueueAndFalseWithoutOne) {
  auto vm = test::make_engine();
  ASSERT_TRUE(test::load(vm, "m", ""));
  EXPECT_EQ(eval(vm, "game.set_block({ x = 0, y = 0, z = 0 }, 'm:stone', 16)"), "false");
  EXPECT_EQ(eval(vm, "game.set_block({ x = 0, y = 0, z = 0 }, 'm:stone', 2^27)"),
            "error: set_block: occupancy 0x8000000 is not a 27-bit mask with a cell in it");
  auto edits = std::make_shared<test::FakeEdits>();
  edits->answer = false;  // a full queue or an unknown name
  vm.set_world_edit(edits);
  EXPECT_EQ(eval(vm, "game.set_block({ x = 0, y = 0, z = 0 }, 'm:nothing')"), "false");
  EXPECT_EQ(edits->calls.size(), 1u);
}

// ---- Fluid and light --------------------------------------------------------------------------

struct FluidWorld {
  LuaVm vm = test::make_engine();
  std::shared_ptr<test::FakeFluids> fluids = std::make_shared<test::FakeFluids>();
  std::shared_ptr<test::FakeDomains> domains = std::make_shared<test::FakeDomains>();

  FluidWorld() {
    EXPECT_TRUE(test::load(vm, "m", ""));
    fluids->ids = {{"m:water", 2}, {"other:lava", 3}};
    domains->live = {"overworld", "dun/a"};
    vm.set_fluid_access(fluids);
    vm.set_domain_access(domains);
  }
  fluid::Fluid at(std::string domain, BlockPos p) const {
    auto it = fluids->states.find({std::move(domain), p});
    return it == fluids->states.end() ? fluid::Fluid{} : it->second;
  }
};

TEST(FluidFunctions, ReadsAnswerVolumeEmptyAndFluid) {
  FluidWorld w;
  w.fluids->states[{"overworld", BlockPos{1, 2, 3}}] = fluid::Fluid::of(2, 18);
  w.fluids->states[{"dun/a", BlockPos{1, 2, 3}}] = fluid::Fluid::of(15, 27);
  EXPECT_EQ(eval(w.vm, "game.get_fluid({ x = 1, y = 2, z = 3 })"), "{empty=false,fluid=2,volume=18}");
  EXPECT_EQ(eval(w.vm, "game.get_fluid({ x = 1, y = 2, z = 3, domain = 'dun/a' })"),
            "{empty=false,fluid=15,volume=27}");
  EXPECT_EQ(eval(w.vm, "game.get_fluid({ x = 1, y = 2, z = 4 })"), "{empty=true,volume=0}");
  EXPECT_EQ(eval(w.vm, "game.get_fluid({ x = 1, y = 2 })"),
            "error: get_fluid: bad field `z` (expected integer, got nil)");
}

TEST(FluidFunctions, WritesTheStateTheSpecNames) {
  struct Case {
    const char* spec;
    const char* answer;
    std::uint16_t state;  // the block's state afterwards
  };
  const Case cases[] = {
      {"{ fluid = 'm:water', volume = 5 }", "true", fluid::Fluid::of(2, 5).bits},
      {"{ fluid = 'm:water' }", "true", fluid::Fluid::of(2, 27).bits},
      {"{ fluid = 'm:water', volume = 40 }", "true", fluid::Fluid::of(2, 27).bits},
      {"{ fluid = 'm:water', volume = -1 }", "true", fluid::Fluid::of(2, 27).bits},
      {"{ fluid = 'm:water', volume = {} }", "true", fluid::Fluid::of(2, 27).bits},
      {"{ fluid = 'other:lava', volume = 3.7 }", "true", fluid::Fluid::of(3, 3).bits},
      {"{ volume = 0 }", "true", 0},
      {"{ volume = 0, fluid = {} }", "true", 0},
      {"{ fluid = 'm:water', volume = 9 }", "false", fluid::Fluid::of(2, 9).bits},  // the same state
      {"{ fluid = 'water' }", "error: set_fluid: no fluid registered as `water`",
       fluid::Fluid::of(2, 9).bits},
      {"{ volume = 4 }",
       "error: set_fluid: missing required field `fluid`. Name the registered fluid to place, or pass "
       "`volume = "
       "0` to clear.",
       fluid::Fluid::of(2, 9).bits},
      {"{ fluid = 7 }",
       "error: set_fluid: missing required field `fluid`. Name the registered fluid to place, or pass "
       "`volume = "
       "0` to clear.",
       fluid::Fluid::of(2, 9).bits},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.spec);
    FluidWorld w;
    w.fluids->states[{"overworld", BlockPos{1, 2, 3}}] = fluid::Fluid::of(2, 9);
    EXPECT_EQ(eval(w.vm, std::string("game.set_fluid({ x = 1, y = 2, z = 3 }, ") + c.spec + ")"), c.answer);
    EXPECT_EQ(w.at("overworld", {1, 2, 3}).bits, c.state);
  }
}

TEST(FluidFunctions, ADomainThatIsNotLiveGetsNoFluidState) {
  FluidWorld w;
  EXPECT_EQ(eval(w.vm, "game.set_fluid({ x = 0, y = 0, z = 0, domain = 'dun/gone' }, { fluid = 'm:water' })"),
            "false");
  EXPECT_EQ(w.fluids->writes, 0);
  // Bad arguments are refused there all the same.
  EXPECT_EQ(eval(w.vm, "game.set_fluid({ x = 0, y = 0, z = 0, domain = 'dun/gone' }, { fluid = 'water' })"),
            "error: set_fluid: no fluid registered as `water`");
  EXPECT_EQ(eval(w.vm, "game.set_fluid({ x = 0, y = 0, z = 0, domain = 'dun/a' }, { fluid = 'm:water' })"),
            "true");
  EXPECT_EQ(w.fluids->writes, 1);
}

TEST(FluidFunctions, WithoutAServiceWritesAnswerFalseWithoutChecks) {
  auto vm = test::make_engine();
  ASSERT_TRUE(test::load(vm, "m", ""));
  EXPECT_EQ(eval(vm, "game.set_fluid({ x = 0, y = 0, z = 0 }, {})"), "false");
  EXPECT_EQ(eval(vm, "game.set_fluid({ x = 0, y = 0, z = 0 }, { fluid = 'nobody' })"), "false");
  EXPECT_EQ(eval(vm, "game.set_fluid({ x = 0, y = 0, z = 0 }, 5)"),
            "error: bad argument #2 to 'set_fluid' (expected table, got integer)");
}

TEST(FluidFunctions, FluidIdQualifiesBareNamesOnly) {
  auto vm = test::make_engine();
  ASSERT_TRUE(test::load(vm, "m", ""));
  EXPECT_EQ(eval(vm, "tostring(game.fluid_id('water'))"), "nil");  // no table yet
  const std::pair<std::string, std::uint8_t> ids[] = {{"m:water", 2}, {"other:lava", 3}, {"m:lava", 4}};
  vm.set_fluid_ids(ids);
  EXPECT_EQ(eval(vm, "game.fluid_id('water')"), "2");
  EXPECT_EQ(eval(vm, "game.fluid_id('other:lava')"), "3");
  EXPECT_EQ(eval(vm, "game.fluid_id('lava')"), "4");
  EXPECT_EQ(eval(vm, "tostring(game.fluid_id('other:water'))"), "nil");
  EXPECT_EQ(eval(vm, "tostring(game.fluid_id(':water'))"), "nil");
  EXPECT_EQ(eval(vm, "game.fluid_id({})"),
            "error: bad argument #1 to 'fluid_id' (expected string, got table)");
}

TEST(LightFunction, SplitsTheValueIntoItsFourChannels) {
  auto vm = test::make_engine();
  ASSERT_TRUE(test::load(vm, "m", ""));
  auto light = std::make_shared<test::FakeLight>();
  light->values[{"overworld", BlockPos{0, 64, 0}}] = 0xF5A3;
  vm.set_light_source(light);
  EXPECT_EQ(eval(vm, "game.get_light({ x = 0, y = 64, z = 0 })"), "{b=3,g=10,r=5,sun=15}");
  EXPECT_EQ(eval(vm, "game.get_light({ x = 0, y = 64, z = 0, domain = 'dun/a' })"), "{b=0,g=0,r=0,sun=0}");
  EXPECT_EQ(eval(vm, "game.get_light({ x = 0, y = 64, z = 1e10 })"),
            "error: get_light: bad field `z` (10000000000 is out of range for a signed 32-bit integer)");
}

}  // namespace
}  // namespace ostrel_core::script::lua_vm
