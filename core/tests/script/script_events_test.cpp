// Player and world events: the event table of every operation and who is asked in which order.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "script/lua_vm/lua_vm.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script {
namespace {

using lua_vm::LuaVm;
using test::inspect;
using test::load;
using test::make_engine;
using test::player;
namespace de = proto::dialog_event;

const std::string kP = std::string(64, 'a');  // player(0xaa) in hex
const std::string kO = std::string(64, '0') .replace(62, 2, "01");

// Each handler writes the event table, keys sorted, as "key=type:value" (nested tables in
// braces) into R.seen, then answers `answer`.
constexpr const char* kDump = R"(
  local function dump(t)
    local keys = {}
    for k in pairs(t) do keys[#keys + 1] = k end
    table.sort(keys, function(a, b) return tostring(a) < tostring(b) end)
    local out = {}
    for _, k in ipairs(keys) do
      local v = t[k]
      local s
      if type(v) == "table" then s = "{" .. dump(v) .. "}"
      else s = (math.type(v) or type(v)) .. ":" .. tostring(v) end
      out[#out + 1] = tostring(k) .. "=" .. s
    end
    return table.concat(out, " ")
  end
  DUMP = dump
)";

void recorder(LuaVm& vm, const std::string& mod, const std::string& registration) {
  auto r = load(vm, mod, std::string(kDump) + registration);
  ASSERT_TRUE(r.has_value()) << r.error().debug();
}


std::string last_seen(LuaVm& vm) { return inspect(vm, "return R.seen[#R.seen]"); }
std::string all_seen(LuaVm& vm) { return inspect(vm, "return table.concat(R.seen, ';')"); }

// An engine with one recording mod for each hook.
LuaVm recording_engine() {
  auto vm = make_engine();
  test::share_seen(vm);
  recorder(vm, "rec", R"(
    for _, hook in ipairs({"on_player_join", "on_player_leave", "on_player_move", "on_chat",
                           "on_place", "on_punch", "on_action", "on_use_entity", "on_dismount",
                           "on_fluid_flow", "on_dialog_event"}) do
      game["register_" .. hook](function(e) note(DUMP(e)) end)
    end
    game.register_on_use(function(e) note(DUMP(e)) end, {anywhere = true})
  )");
  test::inspect(vm, "R['ostrel.blocks']['rec:stone'] = 2");
  return vm;
}

TEST(Events, TablesOfEveryOperation) {
  auto vm = recording_engine();
  const auto p = player(0xaa);
  identity::PlayerUuid owner;
  owner.bytes[31] = 1;
  inventory::Stack held{2, 54, std::nullopt, std::nullopt, std::nullopt};
  const std::string held_table =
      "{blocks=integer:2 count=integer:2 material=integer:2 nodes=integer:0 units=integer:54}";
  std::array<std::uint16_t, 27> cells{};
  cells[0] = 2;
  cells[1] = 3;
  const std::string pl = "player=string:" + kP;

  struct Case {
    const char* name;
    std::function<vm::HookOutcome()> run;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"join", [&] { return vm.player_join({p, "Ann"}); }, "name=string:Ann " + pl},
      {"move_without_from", [&] { return vm.player_move({p, 1, -2, 3, "rec:d", std::nullopt}); },
       "domain=string:rec:d " + pl + " x=integer:1 y=integer:-2 z=integer:3"},
      {"move_with_from",
       [&] { return vm.player_move({p, 1, 2, 3, "d", std::array<std::int32_t, 3>{0, 2, 3}}); },
       "domain=string:d from={x=integer:0 y=integer:2 z=integer:3} " + pl +
           " x=integer:1 y=integer:2 z=integer:3"},
      {"chat", [&] { return vm.chat({p, "hi there"}); }, pl + " text=string:hi there"},
      {"place_whole",
       [&] { return vm.place({p, "d", 4, 5, 6, 2, 0x7FFFFFF, 27, true, std::nullopt}); },
       "domain=string:d material=integer:2 occupancy=integer:134217727 " + pl +
           " swept=boolean:true units=integer:27 x=integer:4 y=integer:5 z=integer:6"},
      {"punch_unowned", [&] { return vm.punch({p, 0xFFFFFFFFFFFFFFFFu, std::nullopt}); },
       "attacker=string:" + kP + " " + pl + " target=integer:-1"},
      {"punch_owned", [&] { return vm.punch({p, 7, owner}); },
       "attacker=string:" + kP + " owner=string:" + kO + " " + pl + " target=integer:7"},
      {"action", [&] { return vm.action({p, "rec:jump", false}); },
       "id=string:rec:jump " + pl + " pressed=boolean:false"},
      {"use_entity", [&] { return vm.use_entity({p, 9, owner, held}); },
       "held=" + held_table + " owner=string:" + kO + " " + pl + " target=integer:9"},
      {"use_entity_empty_hand", [&] { return vm.use_entity({p, 9, std::nullopt, std::nullopt}); },
       pl + " target=integer:9"},
      {"use_at_nothing", [&] { return vm.use_block({p, "d", held, std::nullopt}); },
       "domain=string:d held=" + held_table + " " + pl},
      {"use_at_cell", [&] { return vm.use_block({p, "d", std::nullopt, vm::UsedCell{3, 4, 5, 2}}); },
       "domain=string:d material=integer:2 " + pl + " x=integer:3 y=integer:4 z=integer:5"},
      {"dismount",
       [&] { return vm.dismounted({p, 5, vm::DismountReason::Gone, "d", 1.5, 2.0, -3.25}); },
       "domain=string:d entity=integer:5 " + pl +
           " reason=string:gone x=float:1.5 y=float:2.0 z=float:-3.25"},
      {"fluid_flow_unknown_block",
       [&] {
         return vm.fluid_flow({{1, 2, 3}, {1, 1, 3}, "rec:water", 5, 0x7FFFFFF, 99, std::nullopt});
       },
       "fluid=string:rec:water from={x=integer:1 y=integer:2 z=integer:3} "
       "into={x=integer:1 y=integer:1 z=integer:3} occupancy=integer:134217727 units=integer:27 "
       "volume=integer:5"},
      {"fluid_flow_block_and_meets",
       [&] { return vm.fluid_flow({{0, 0, 0}, {0, 0, 1}, "w", 1, 0x3, 2, "rec:lava"}); },
       "block=string:rec:stone fluid=string:w from={x=integer:0 y=integer:0 z=integer:0} "
       "into={x=integer:0 y=integer:0 z=integer:1} meets=string:rec:lava occupancy=integer:3 "
       "units=integer:2 volume=integer:1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto before = inspect(vm, "return #R.seen");
    auto out = c.run();
    EXPECT_TRUE(out.proceed);
    EXPECT_TRUE(out.faulted.empty());
    ASSERT_EQ(inspect(vm, "return #R.seen"), std::to_string(std::stoi(before) + 1));
    EXPECT_EQ(last_seen(vm), c.want);
  }

  // A placement of a cut of several materials carries its 27 cells.
  vm.place({p, "d", 0, 0, 0, 2, 0x3, 2, false, cells});
  EXPECT_EQ(inspect(vm, "return select(2, R.seen[#R.seen]:gsub('integer', ''))"), "33");
  EXPECT_NE(last_seen(vm).find("cells={1=integer:2 10=integer:0"), std::string::npos);
}

TEST(Events, DialogKindsAndClickTexts) {
  auto vm = recording_engine();
  const auto p = player(0xaa);
  inventory::Stack dropped{2, 27, std::nullopt, std::nullopt, std::nullopt};
  const std::string pl = "player=string:" + kP;
  struct Case {
    proto::DialogEvent event;
    std::optional<inventory::Stack> stack;
    std::string fields;  // besides form and player, each found as a whole "key=value" token
  };
  const Case cases[] = {
      {de::Pressed{"ok", proto::PressClick::Double}, {}, "click=string:double kind=string:pressed name=string:ok"},
      {de::Pressed{"ok", proto::PressClick::Right}, {}, "click=string:right kind=string:pressed name=string:ok"},
      {de::Submitted{"t", "words"}, {}, "kind=string:submitted name=string:t text=string:words"},
      {de::Toggled{"c", true}, {}, "checked=boolean:true kind=string:toggled name=string:c"},
      {de::Slid{"s", -4}, {}, "kind=string:slid name=string:s value=integer:-4"},
      {de::Chose{"d", 0}, {}, "index=integer:1 kind=string:chose name=string:d"},
      {de::Clicked{"chest", 0, proto::SlotClick::ShiftRight}, {},
       "click=string:shift_right index=integer:1 kind=string:clicked view=string:chest"},
      {de::Closed{}, {}, "kind=string:closed"},
      {de::Chiselled{"e", {}, 0x7}, {}, "kind=string:chiselled name=string:e shape=integer:7"},
      {de::Chiselled{"e", std::vector<std::uint16_t>(27, 2), 0x7FFFFFF}, {}, "cells={"},
      {de::Dropped{proto::SlotClick::ShiftLeft}, dropped, "click=string:shift_left kind=string:dropped"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fields);
    auto out = vm.dialog_event({"rec", "rec:menu", p, c.event, c.stack});
    EXPECT_FALSE(out.taken);
    const auto seen = " " + last_seen(vm) + " ";
    std::size_t start = 0;
    while (start < c.fields.size()) {
      const auto end = std::min(c.fields.find(' ', start), c.fields.size());
      const auto token = c.fields.substr(start, end - start);
      EXPECT_NE(seen.find(" " + token + (token.back() == '{' ? "" : " ")), std::string::npos)
          << token << " in " << seen;
      start = end + 1;
    }
    EXPECT_NE(seen.find("form=string:rec:menu"), std::string::npos);
    EXPECT_NE(seen.find(pl), std::string::npos);
    EXPECT_EQ(seen.find("stack=") != std::string::npos, c.stack.has_value()) << seen;
    if (const auto* ch = std::get_if<de::Chiselled>(&c.event); ch && ch->cells.empty()) {
      EXPECT_EQ(seen.find("cells="), std::string::npos) << "an empty list sets no `cells`";
    }
  }
}

TEST(Events, DialogTakenOnlyByTrueAndOwnerOnly) {
  auto vm = make_engine();
  test::share_seen(vm);
  ASSERT_TRUE(load(vm, "a", R"(
    game.register_on_dialog_event(function(e)
      note("a:" .. e.kind)
      if e.kind == "closed" then return true end
      if e.kind == "dropped" then return 1 end
      if e.kind == "pressed" then error("dialog broke") end
      return "yes"
    end)
  )"));
  ASSERT_TRUE(load(vm, "b", "game.register_on_dialog_event(function() note('b') return true end)"));
  const auto p = player(1);
  EXPECT_TRUE(vm.dialog_event({"a", "a:m", p, de::Closed{}, {}}).taken);
  EXPECT_FALSE(vm.dialog_event({"a", "a:m", p, de::Dropped{}, {}}).taken);
  EXPECT_FALSE(vm.dialog_event({"a", "a:m", p, de::Toggled{"x", true}, {}}).taken);
  auto failed = vm.dialog_event({"a", "a:m", p, de::Pressed{"x", {}}, {}});
  EXPECT_FALSE(failed.taken);
  ASSERT_EQ(failed.faulted.size(), 1u);
  EXPECT_EQ(failed.faulted[0].error.context(), "on_dialog_event");
  auto after = vm.dialog_event({"a", "a:m", p, de::Closed{}, {}});
  EXPECT_FALSE(after.taken);
  EXPECT_TRUE(after.faulted.empty());
  EXPECT_EQ(all_seen(vm), "a:closed;a:dropped;a:toggled;a:pressed");
  auto none = vm.dialog_event({"nobody", "nobody:m", p, de::Closed{}, {}});
  EXPECT_FALSE(none.taken);
}

TEST(Events, UseBlockAsksListedHandlersFirst) {
  auto vm = make_engine();
  test::share_seen(vm);
  test::inspect(vm, "R['ostrel.blocks']['a:s'] = 2 R['ostrel.blocks']['a:t'] = 3");
  ASSERT_TRUE(load(vm, "a", R"(
    game.register_on_use(function() note("a-listed") end, {materials = {"s"}})
    game.register_on_use(function() note("a-unlisted") end)
  )"));
  ASSERT_TRUE(load(vm, "b", "game.register_on_use(function() note('b-unlisted') end)"));
  ASSERT_TRUE(load(vm, "c", R"(
    game.register_on_use(function() note("c-listed") return "no" end, {materials = {"a:s"}})
  )"));
  const auto p = player(1);
  auto at_s = vm.use_block({p, "d", std::nullopt, vm::UsedCell{0, 0, 0, 2}});
  EXPECT_FALSE(at_s.proceed);
  EXPECT_EQ(at_s.refusal, "no");
  EXPECT_EQ(all_seen(vm), "a-listed;c-listed");
  inspect(vm, "R.seen = {}");
  vm.use_block({p, "d", std::nullopt, vm::UsedCell{0, 0, 0, 3}});
  EXPECT_EQ(all_seen(vm), "a-unlisted;b-unlisted");
  inspect(vm, "R.seen = {}");
  vm.use_block({p, "d", std::nullopt, vm::UsedCell{0, 0, 0, 77}});  // no block has it
  EXPECT_EQ(all_seen(vm), "a-unlisted;b-unlisted");
  inspect(vm, "R.seen = {}");
  auto nothing = vm.use_block({p, "d", std::nullopt, std::nullopt});
  EXPECT_TRUE(nothing.proceed);
  EXPECT_EQ(all_seen(vm), "");
}

TEST(Events, ARefusalEndsACancellableRunButNotAnObservedOne) {
  auto vm = make_engine();
  test::share_seen(vm);
  for (const char* id : {"a", "b"}) {
    ASSERT_TRUE(load(vm, id, fmt::format(R"(
      game.register_on_player_join(function() note("{0}") return false end)
      game.register_on_player_move(function() note("{0}m") return false end)
    )",
                                         id)));
  }
  auto join = vm.player_join({player(1), "x"});
  EXPECT_FALSE(join.proceed);
  auto move = vm.player_move({player(1), 0, 0, 0, "d", std::nullopt});
  EXPECT_TRUE(move.proceed);
  EXPECT_EQ(all_seen(vm), "a;am;bm");
}

}  // namespace
}  // namespace ostrel_core::script
