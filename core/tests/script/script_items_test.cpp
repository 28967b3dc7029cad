// The item and plan functions of `game` over recording services: empty and poisoned slots,
// argument errors and the order they are raised in, what reaches the services (one-based slots
// made zero-based, default views, stack kinds), and the plan summaries and refusals.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "building/dig/tools.hpp"
#include "building/inventory/access.hpp"
#include "building/plan.hpp"
#include "script/lua_vm/slots.hpp"
#include "script/runtime_eval.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

using identity::PlayerUuid;
using inventory::Stack;
using test::eval;

const std::string kP1 = std::string(64, '1');
const std::string kP2 = std::string(64, 'A');  // upper case is read too

// Each call recorded as text; answers from the fields.
struct Recorder final : inventory::Access, inventory::Containers, dig::Tools {
  std::vector<std::string> calls;
  std::vector<Stack> contents_answer;
  std::uint32_t units_answer = 0;
  std::optional<Stack> stack_answer;
  bool bool_answer = true;

  static std::string slot_text(std::optional<std::size_t> slot) {
    return slot ? std::to_string(*slot) : std::string("any");
  }
  static std::string kind(const Stack& s) {
    return fmt::format("m{} u{} shape {} detail {} cells {}", s.material, s.units,
                       s.shape ? fmt::format("{:#x}", *s.shape) : "-", s.detail.value_or("-"), s.cells ? "yes" : "-");
  }
  static std::string who(const PlayerUuid& p) { return p.to_hex().substr(0, 4); }

  std::vector<Stack> contents(const PlayerUuid& p, std::string_view view) override {
    calls.push_back(fmt::format("contents {} {}", who(p), view));
    return contents_answer;
  }
  std::uint32_t give(const PlayerUuid& p, std::string_view view, std::optional<std::size_t> slot,
                     Stack stack) override {
    calls.push_back(fmt::format("give {} {} {} {}", who(p), view, slot_text(slot), kind(stack)));
    return units_answer;
  }
  std::optional<Stack> held(const PlayerUuid& p) override {
    calls.push_back("held " + who(p));
    return stack_answer;
  }
  std::optional<Stack> slot(const PlayerUuid& p, std::string_view view, std::size_t index) override {
    calls.push_back(fmt::format("slot {} {} {}", who(p), view, index));
    return stack_answer;
  }
  std::uint32_t take(const PlayerUuid& p, std::string_view view, std::optional<std::size_t> slot,
                     const Stack& like, std::uint32_t units) override {
    calls.push_back(fmt::format("take {} {} {} {} want {}", who(p), view, slot_text(slot), kind(like), units));
    return units_answer;
  }
  // Containers.
  bool ensure(std::string_view name, std::size_t slots) override {
    calls.push_back(fmt::format("ensure {} {}", name, slots));
    return bool_answer;
  }
  bool open(std::string_view name, const PlayerUuid& p) override {
    calls.push_back(fmt::format("open {} {}", name, who(p)));
    return bool_answer;
  }
  bool close(std::string_view name, const PlayerUuid& p) override {
    calls.push_back(fmt::format("close {} {}", name, who(p)));
    return bool_answer;
  }
  std::optional<std::vector<std::optional<Stack>>> slots(std::string_view name) override {
    calls.push_back(fmt::format("slots {}", name));
    return std::vector<std::optional<Stack>>{std::nullopt, stack_answer, std::nullopt, stack_answer};
  }
  std::uint32_t give(std::string_view name, std::optional<std::size_t> slot, Stack stack) override {
    calls.push_back(fmt::format("container_give {} {} {}", name, slot_text(slot), kind(stack)));
    return units_answer;
  }
  std::uint32_t take(std::string_view name, std::optional<std::size_t> slot, const Stack& like,
                     std::uint32_t units) override {
    calls.push_back(fmt::format("container_take {} {} {} want {}", name, slot_text(slot), kind(like), units));
    return units_answer;
  }
  std::vector<Stack> remove(std::string_view name) override {
    calls.push_back(fmt::format("remove {}", name));
    return contents_answer;
  }
  std::optional<PlayerUuid> holder(std::string_view name) override {
    calls.push_back(fmt::format("holder {}", name));
    PlayerUuid p;
    p.bytes.fill(0xAB);
    return p;
  }
  std::vector<std::string> names(std::string_view prefix) override {
    calls.push_back(fmt::format("names {}", prefix));
    return {"b", "a"};  // passed on in the order answered
  }
  // Tools.
  std::optional<std::string> tool(const PlayerUuid& p) override {
    calls.push_back("tool " + who(p));
    return std::string("m:pick");
  }
  bool set_tool(const PlayerUuid& p, std::optional<std::string> t) override {
    calls.push_back(fmt::format("set_tool {} {}", who(p), t.value_or("hand")));
    return bool_answer;
  }
};

// An engine with mod "m" loaded and the recorder in the inventory, container and tool slots.
struct Served {
  LuaVm vm = test::make_engine();
  std::shared_ptr<Recorder> rec = std::make_shared<Recorder>();
  Served() {
    EXPECT_TRUE(test::load(vm, "m", ""));
    vm.set_inventory_access(rec);
    vm.set_container_access(rec);
    vm.set_tools_access(rec);
  }
};

// A plan store in memory, keyed by mod and name; capture answers `captured` or `refusal`.
struct FakePlans final : plan::Access {
  std::map<std::pair<std::string, std::string>, plan::Plan> stored;
  std::optional<plan::PlanError> refusal;
  plan::Plan captured;
  bool saves = true;
  std::vector<std::string> calls;

  std::expected<plan::Plan, plan::PlanError> capture(std::string_view domain, coords::BlockPos a,
                                                     coords::BlockPos b) override {
    calls.push_back(fmt::format("capture {} {},{},{} {},{},{}", domain, a.x, a.y, a.z, b.x, b.y, b.z));
    if (refusal) return std::unexpected(*refusal);
    return captured;
  }
  bool save(std::string_view mod, std::string_view name, const plan::Plan& p) override {
    if (saves) stored[{std::string(mod), std::string(name)}] = p;
    return saves;
  }
  std::optional<plan::Plan> load(std::string_view mod, std::string_view name) override {
    auto it = stored.find({std::string(mod), std::string(name)});
    return it == stored.end() ? std::nullopt : std::optional(it->second);
  }
  std::vector<std::string> names(std::string_view mod) override {
    std::vector<std::string> out;
    for (const auto& [key, p] : stored) {
      if (key.first == mod) out.push_back(key.second);
    }
    return out;
  }
  bool forget(std::string_view mod, std::string_view name) override {
    return stored.erase({std::string(mod), std::string(name)}) > 0;
  }
  bool stamp(std::string_view domain, coords::BlockPos at, plan::Plan p) override {
    calls.push_back(fmt::format("stamp {} {},{},{} {} entries", domain, at.x, at.y, at.z, p.cells.size()));
    return true;
  }
  bool stamp_schematic(std::string_view, std::array<std::int32_t, 3>,
                       std::vector<detgen::buffer::StampBlock>) override {
    return false;
  }
};

// Every item and plan function, with the answer of an empty slot.
struct EmptyCase {
  const char* call;
  const char* want;
};
const EmptyCase kEmptyAnswers[] = {
    {"game.inventory('P1')", "{}"},
    {"game.give('P1', { material = 2, count = 3 })", "false 81"},
    {"game.held('P1')", "nil"},
    {"game.slot('P1', 'player:main', 1)", "nil"},
    {"game.take('P1', { material = 2 })", "0"},
    {"game.get_tool('P1')", "nil"},
    {"game.set_tool('P1', 'm:pick')", "false"},
    {"game.make_container('c', 3)", "false"},
    {"game.open_container('c', 'P1')", "false"},
    {"game.close_container('c', 'P1')", "false"},
    {"game.container('c')", "{}"},
    {"game.break_container('c')", "{}"},
    {"game.container_holder('c')", "nil"},
    {"game.containers('')", "{}"},
    {"game.container_give('c', { material = 2 })", "0"},
    {"game.container_take('c', { material = 2 })", "0"},
    {"game.plans.capture('hut', { x = 0, y = 0, z = 0 }, { x = 1, y = 1, z = 1 })", "nil no world"},
    {"game.plans.stamp('hut', { x = 0, y = 0, z = 0 })", "false"},
    {"game.plans.info('hut')", "nil"},
    {"game.plans.list()", "{}"},
    {"game.plans.forget('hut')", "false"},
};

std::string with_players(std::string code) {
  for (auto [from, to] : {std::pair{"P1", kP1}, std::pair{"P2", kP2}}) {
    for (std::size_t at = code.find(from); at != std::string::npos; at = code.find(from)) code.replace(at, 2, to);
  }
  return code;
}

TEST(ItemFunctions, EmptySlotsGiveEachFunctionsEmptyAnswerFromTheFirstLineOfInit) {
  auto vm = test::make_engine();
  std::string init = std::string(test::kDump) + "seen = {}\n";
  for (const auto& c : kEmptyAnswers) {
    init += with_players(fmt::format(
        "do local t = table.pack({}) local o = {{}} for i = 1, t.n do o[i] = dump(t[i]) end "
        "seen[#seen + 1] = table.concat(o, ' ') end\n",
        c.call));
  }
  ASSERT_TRUE(test::load(vm, "m", init));
  for (std::size_t i = 0; i < std::size(kEmptyAnswers); ++i) {
    SCOPED_TRACE(kEmptyAnswers[i].call);
    EXPECT_EQ(test::run(vm, "m", fmt::format("return seen[{}]", i + 1)), kEmptyAnswers[i].want);
  }
}

TEST(ItemFunctions, PoisonedItemSlotsAnswerAsEmptyAndAPoisonedPlanSlotRaises) {
  Served served;
  LuaVm& vm = served.vm;
  Recorder* rec = served.rec.get();
  vm.set_plan_access(std::make_shared<FakePlans>());
  vm.slots().inventories->poison();
  vm.slots().containers->poison();
  vm.slots().tools->poison();
  vm.slots().plans->poison();
  for (const auto& c : kEmptyAnswers) {
    SCOPED_TRACE(c.call);
    const std::string got = eval(vm, with_players(c.call));
    if (std::string_view(c.call).starts_with("game.plans.")) {
      EXPECT_EQ(got, "error: the plan store is poisoned; the simulation panicked");
    } else {
      EXPECT_EQ(got, c.want);
    }
  }
  EXPECT_TRUE(rec->calls.empty());
}

TEST(ItemFunctions, ArgumentErrorsAndTheOrderTheyAreRaisedIn) {
  const std::pair<const char*, const char*> cases[] = {
      // Players.
      {"game.get_tool('abc')", "get_tool takes a player UUID in hex, as a hook event reports one"},
      {"game.set_tool('abc', nil)", "set_tool takes a player UUID in hex, as a hook event reports one"},
      {"game.inventory(string.rep('1', 63))", "inventory takes a player UUID in hex, as a hook event reports one"},
      {"game.held(string.rep('1', 65))", "held takes a player UUID in hex, as a hook event reports one"},
      {"game.slot(string.rep('g', 64), 'player:main', 0)",
       "slot takes a player UUID in hex, as a hook event reports one"},
      {"game.open_container('c', 'abc')", "open_container takes a player UUID in hex, as a hook event reports one"},
      {"game.close_container('c', 'abc')",
       "close_container takes a player UUID in hex, as a hook event reports one"},
      // give reads the player, the stack table, `view`, then `slot`.
      {"game.give('abc', { material = 'm:none', slot = 0 })",
       "give takes a player UUID in hex, as a hook event reports one"},
      {"game.give('P1', { material = 'm:none', slot = 0 })", "no block registered with id `m:none`"},
      {"game.give('P1', { material = 2, view = {}, slot = 0 })",
       "give: bad field `view` (expected string, got table)"},
      {"game.give('P1', { material = 2, slot = 0 })",
       "container slots are numbered from 1, and 0 is not one of them"},
      {"game.take('P1', { material = 2, slot = -1 })",
       "take: bad field `slot` (-1 is out of range for an unsigned 64-bit integer)"},
      {"game.take('abc', { shape = 0 })", "take takes a player UUID in hex, as a hook event reports one"},
      // Slot numbers.
      {"game.slot('P1', 'player:main', 0)", "game.slot: slots count from 1, as the screens number them"},
      // Quantities past 32 bits, masks above 27 bits.
      {"game.give('P1', { material = 2, count = 2^32 / 27 + 1 })",
       "159072863 items of 27 units each does not fit in a stack"},
      {"game.give('P1', { material = 2, units = 2^32 })",
       "`units`: 4294967296 is out of range for an unsigned 32-bit integer"},
      {"game.take('P1', { material = 2, shape = 0x8000000 })",
       "shape is an occupancy mask over a block's 27 sub-nodes and cannot be empty"},
      {"game.give('P1', { material = 70000 })", "material id 70000 is out of range"},
      // Containers.
      {"game.make_container('c', 0)", "a container has 1 to 256 slots, and this one asked for 0"},
      {"game.make_container('c', 257)", "a container has 1 to 256 slots, and this one asked for 257"},
      {"game.make_container('', 0)", "game.make_container needs a name; it is how the container is found again"},
      {"game.make_container('c', -1)",
       "bad argument #2 to 'make_container' (-1 is out of range for an unsigned 64-bit integer)"},
      // container_give reads `slot` before the stack table; container_take after it.
      {"game.container_give('c', { material = 'm:none', slot = 0 })",
       "container slots are numbered from 1, and 0 is not one of them"},
      {"game.container_take('c', { material = 'm:none', slot = 0 })", "no block registered with id `m:none`"},
      {"game.container_take('c', { material = 2, slot = 0 })",
       "container slots are numbered from 1, and 0 is not one of them"},
      {"game.containers()", "bad argument #1 to 'containers' (expected string, got nil)"},
      // Plans.
      {"game.plans.capture('hut', { x = 0, y = 0 }, { x = 1, y = 1, z = 1 })",
       "plans.capture: bad field `z` (expected integer, got nil)"},
      {"game.plans.stamp('hut', { x = 0.5, y = 0, z = 0, domain = {} })",
       "plans.stamp: bad field `domain` (expected string, got table)"},
  };
  Served served;
  LuaVm& vm = served.vm;
  Recorder* rec = served.rec.get();
  vm.set_plan_access(std::make_shared<FakePlans>());
  for (const auto& [call, want] : cases) {
    SCOPED_TRACE(call);
    EXPECT_EQ(eval(vm, with_players(call)), std::string("error: ") + want);
  }
  EXPECT_TRUE(rec->calls.empty());
}

TEST(ItemFunctions, WhatReachesTheServices) {
  Served served;
  LuaVm& vm = served.vm;
  Recorder* rec = served.rec.get();
  rec->stack_answer = Stack{.material = 2, .units = 100};
  rec->contents_answer = {Stack{.material = 2, .units = 54}, Stack{.material = 3, .units = 18, .shape = 0x1FF}};
  rec->units_answer = 7;
  const std::pair<const char*, const char*> cases[] = {
      {"game.inventory('P1')", "[{blocks=2,count=2,material=2,nodes=0,units=54},"
                               "{blocks=0,count=2,material=3,nodes=18,shape=511,units=18}]"},
      {"game.inventory('P2', 'chest')", "[{blocks=2,count=2,material=2,nodes=0,units=54},"
                                        "{blocks=0,count=2,material=3,nodes=18,shape=511,units=18}]"},
      {"game.give('P1', { material = 2, count = 2, slot = 3, detail = 'x' })", "false 7"},
      {"game.give('P1', { material = 2, units = 5, view = 'bag' })", "false 7"},
      // Nothing to give reaches nobody.
      {"game.give('P1', { material = 2, count = 0 })", "false 0"},
      {"game.give('P1', { material = 2, units = 0 })", "false 0"},
      {"game.give('P1', { material = 0 })", "false 0"},
      {"game.held('P1')", "{blocks=3,count=3,material=2,nodes=19,units=100}"},
      {"game.slot('P1', 'bag', 2)", "{blocks=3,count=3,material=2,nodes=19,units=100}"},
      {"game.take('P1', { material = 2, shape = 0x1FF, count = 2, slot = 2 })", "7"},
      // A zero quantity and air are passed on: they match nothing.
      {"game.take('P1', { material = 0, units = 0 })", "7"},
      {"game.get_tool('P1')", "m:pick"},
      {"game.set_tool('P1')", "true"},
      {"game.set_tool('P1', 'm:axe')", "true"},
      {"game.make_container('c', 256)", "true"},
      {"game.open_container('c', 'P2')", "true"},
      {"game.close_container('c', 'P2')", "true"},
      {"game.container('c')", "[{blocks=3,count=3,material=2,nodes=19,slot=2,units=100},"
                              "{blocks=3,count=3,material=2,nodes=19,slot=4,units=100}]"},
      {"game.break_container('c')", "[{blocks=2,count=2,material=2,nodes=0,units=54},"
                                    "{blocks=0,count=2,material=3,nodes=18,shape=511,units=18}]"},
      {"game.container_holder('c')", "abababababababababababababababababababababababababababababababab"},
      {"game.containers('x')", "[b,a]"},
      {"game.container_give('c', { material = 2, units = 9, slot = 1 })", "7"},
      {"game.container_give('c', { material = 2, units = 0 })", "0"},
      {"game.container_take('c', { material = 2, detail = '' })", "7"},
  };
  for (const auto& [call, want] : cases) {
    SCOPED_TRACE(call);
    EXPECT_EQ(eval(vm, with_players(call)), want);
  }
  const std::vector<std::string> want_calls = {
      "contents 1111 player:main",
      "contents aaaa chest",
      "give 1111 player:main 2 m2 u54 shape - detail x cells -",
      "give 1111 bag any m2 u5 shape - detail - cells -",
      "held 1111",
      "slot 1111 bag 1",
      "take 1111 player:main 1 m2 u18 shape 0x1ff detail - cells - want 18",
      "take 1111 player:main any m0 u0 shape - detail - cells - want 0",
      "tool 1111",
      "set_tool 1111 hand",
      "set_tool 1111 m:axe",
      "ensure c 256",
      "open c aaaa",
      "close c aaaa",
      "slots c",
      "remove c",
      "holder c",
      "names x",
      "container_give c 0 m2 u9 shape - detail - cells -",
      "container_take c any m2 u27 shape - detail  cells - want 27",
  };
  EXPECT_EQ(rec->calls, want_calls);
}

// A plan of `stone` whole blocks along x, then one block of 9 stone cells beside a glass cell.
plan::Plan sample_plan() {
  plan::Plan p{.w = 3, .h = 2, .d = 1};
  EXPECT_TRUE(p.set(0, 0, 0, "m:stone", 0x7FFFFFF));
  EXPECT_TRUE(p.set(1, 0, 0, "m:stone", 0x1FF));
  EXPECT_TRUE(p.set(1, 0, 0, "m:glass", 0x200));
  return p;
}

TEST(PlanFunctions, SummariesRefusalsAndOwnership) {
  auto vm = test::make_engine();
  ASSERT_TRUE(test::load(vm, "m", ""));
  ASSERT_TRUE(test::load(vm, "other", ""));
  auto plans = std::make_shared<FakePlans>();
  plans->captured = sample_plan();
  vm.set_plan_access(plans);

  const char* summary = "{blocks=2,materials={m:glass=1,m:stone=36},size={x=3,y=2,z=1}}";
  EXPECT_EQ(eval(vm, "game.plans.capture('hut', { x = 5, y = 6, z = 7, domain = 'dun/a' }, "
                     "{ x = 1, y = 2, z = 3, domain = 'ignored' })"),
            summary);
  EXPECT_EQ(eval(vm, "game.plans.info('hut')"), summary);
  EXPECT_EQ(eval(vm, "game.plans.list()"), "[hut]");
  // Another mod sees none of it.
  EXPECT_EQ(eval(vm, "game.plans.info('hut')", "other"), "nil");
  EXPECT_EQ(eval(vm, "game.plans.list()", "other"), "{}");
  EXPECT_EQ(eval(vm, "game.plans.forget('hut')", "other"), "false");
  EXPECT_EQ(eval(vm, "game.plans.stamp('hut', { x = 0, y = 0, z = 0 })", "other"), "false");

  EXPECT_EQ(eval(vm, "game.plans.stamp('hut', { x = -1, y = 2, z = 3 })"), "true");
  EXPECT_EQ(eval(vm, "game.plans.stamp('never', { x = 0, y = 0, z = 0 })"), "false");
  EXPECT_EQ(eval(vm, "game.plans.forget('never')"), "false");
  EXPECT_EQ(eval(vm, "game.plans.forget('hut')"), "true");
  EXPECT_EQ(eval(vm, "game.plans.info('hut')"), "nil");
  EXPECT_EQ(plans->calls, (std::vector<std::string>{"capture dun/a 5,6,7 1,2,3", "stamp overworld -1,2,3 3 entries"}));

  // Every refusal of the service, and a failed save.
  const std::pair<plan::PlanErrorKind, const char*> refusals[] = {
      {plan::PlanErrorKind::TooBig, "too big"},         {plan::PlanErrorKind::TooManyBlocks, "too many blocks"},
      {plan::PlanErrorKind::NotLoaded, "not loaded"},   {plan::PlanErrorKind::NoWorld, "no world"},
      {plan::PlanErrorKind::OutOfBounds, "refused"},    {plan::PlanErrorKind::PaletteFull, "refused"},
  };
  for (const auto& [kind, text] : refusals) {
    SCOPED_TRACE(text);
    plans->refusal = plan::PlanError{.kind = kind};
    EXPECT_EQ(eval(vm, "game.plans.capture('shed', { x = 0, y = 0, z = 0 }, { x = 1, y = 1, z = 1 })"),
              std::string("nil ") + text);
  }
  plans->refusal.reset();
  plans->saves = false;
  EXPECT_EQ(eval(vm, "game.plans.capture('shed', { x = 0, y = 0, z = 0 }, { x = 1, y = 1, z = 1 })"),
            "nil not saved");
  EXPECT_EQ(eval(vm, "game.plans.list()"), "{}");
}

}  // namespace
}  // namespace ostrel_core::script::lua_vm
