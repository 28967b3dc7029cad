// Hook dispatch: answers, refusals, drops, faults and the event tables.

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "script/lua_vm/lua_vm.hpp"
#include "script/lua_vm/dispatch.hpp"
#include "script/lua_vm/ref.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script {
namespace {

using lua_vm::LuaRef;
using lua_vm::LuaVm;
using test::inspect;
using test::load;
using test::make_engine;
using vm::Drop;
using vm::HookOutcome;
using Strings = std::vector<std::string>;

constexpr std::array<std::uint8_t, 32> kPlayer = {0x00, 0x01, 0xab, 0xff};


// The handlers asked so far, in order, each followed by ";".
std::string seen(LuaVm& vm) {
  return inspect(vm, "local s = '' for _, id in ipairs(R.seen) do s = s .. id .. ';' end return s");
}

// Loads one mod per handler body; each registers `on_place` with `function(e) <body> end`,
// after noting its id.
void load_handlers(LuaVm& vm, const std::vector<std::pair<std::string, std::string>>& mods,
                   const char* hook = "on_place") {
  test::share_seen(vm);
  for (const auto& [id, body] : mods) {
    const std::string code =
        fmt::format("game.register_{}(function(e) note('{}') {} end)", hook, id, body);
    ASSERT_TRUE(load(vm, id, code)) << id;
  }
}

LuaRef event(LuaVm& vm) {
  auto e = vm.hook_event(kPlayer);
  EXPECT_TRUE(e.has_value());
  return std::move(*e);
}

HookOutcome place(LuaVm& vm, const LuaRef& e) { return vm.run_hook("on_place", "ostrel.placers", e); }

TEST(Dispatch, EmptyListAnswersNothing) {
  auto vm = make_engine();
  auto e = event(vm);
  auto out = place(vm, e);
  EXPECT_TRUE(out.proceed);
  EXPECT_FALSE(out.refusal);
  EXPECT_FALSE(out.drops);
  EXPECT_TRUE(out.faulted.empty());
  EXPECT_FALSE(out.taken);
}

TEST(Dispatch, AnswersAndRefusals) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> mods;
    bool proceed;
    std::optional<std::string> refusal;
    const char* seen;
  };
  std::string e300;
  for (int i = 0; i < 300; ++i) e300 += "\xC3\xA9";  // é: two bytes
  std::string a_e300 = "a" + e300;
  const Case cases[] = {
      {"nil_false_nil_stops_at_false",
       {{"a", "return nil"}, {"b", "return false"}, {"c", "return nil"}}, false, std::nullopt,
       "a;b;"},
      {"true_and_numbers_go_on",
       {{"a", "return true"}, {"b", "return 5"}, {"c", "return function() end"}}, true,
       std::nullopt, "a;b;c;"},
      {"empty_text_is_an_empty_refusal", {{"a", "return ''"}, {"b", "return nil"}}, false, "",
       "a;"},
      {"text_refusal", {{"a", "return 'not here'"}}, false, "not here", "a;"},
      {"600_bytes_cut_at_512", {{"a", "return ('\\195\\169'):rep(300)"}}, false,
       e300.substr(0, 512), "a;"},
      {"600_bytes_cut_inside_a_character", {{"a", "return 'a' .. ('\\195\\169'):rep(300)"}}, false,
       a_e300.substr(0, 511), "a;"},
      {"invalid_utf8_replaced", {{"a", "return 'x\\255y'"}}, false, "x\xEF\xBF\xBDy", "a;"},
      {"handler_sees_nothing_an_earlier_wrote",
       {{"a", "e.mark = 'hi' e.player = ('0'):rep(64) setmetatable(e, {__index = function() "
              "while true do end end})"},
        {"b", "return (e.mark == nil and e.player ~= ('0'):rep(64) and getmetatable(e) == nil) "
              "and 'fresh' or 'tampered'"}},
       false, "fresh", "a;b;"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto vm = make_engine();
    load_handlers(vm, c.mods);
    auto e = event(vm);
    auto out = place(vm, e);
    EXPECT_EQ(out.proceed, c.proceed);
    EXPECT_EQ(out.refusal, c.refusal);
    EXPECT_TRUE(out.faulted.empty());
    EXPECT_EQ(seen(vm), c.seen);
  }
}

TEST(Dispatch, ObservedRunsIgnoreRefusals) {
  auto vm = make_engine();
  load_handlers(vm,
                {{"a", "return false"}, {"b", "return 'no'"}, {"c", "return {drops = {x = 1}}"}},
                "on_player_move");
  auto e = event(vm);
  auto out = vm.observe_hook("on_player_move", "ostrel.movers", e);
  EXPECT_TRUE(out.proceed);
  EXPECT_FALSE(out.refusal);
  EXPECT_EQ(out.drops, (std::vector<Drop>{{"c:x", 1}}));
  EXPECT_EQ(seen(vm), "a;b;c;");
}

TEST(Dispatch, DropsAnswers) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> mods;
    std::optional<std::vector<Drop>> drops;
  };
  const Case cases[] = {
      {"last_answer_wins",
       {{"a", "return {drops = {stone = 9}}"}, {"b", "return {drops = {['other:ore'] = 27}}"}},
       std::vector<Drop>{{"other:ore", 27}}},
      {"bare_ids_take_the_mod_id", {{"a", "return {drops = {stone = 9}}"}},
       std::vector<Drop>{{"a:stone", 9}}},
      {"sorted_by_id", {{"a", "return {drops = {z = 1, b = 2, ['a:b'] = 3, [7] = 4}}"}},
       std::vector<Drop>{{"a:7", 4}, {"a:b", 2}, {"a:b", 3}, {"a:z", 1}}},
      {"units_convert", {{"a", "return {drops = {f = 2.7, t = '5', i = 0}}"}},
       std::vector<Drop>{{"a:f", 2}, {"a:i", 0}, {"a:t", 5}}},
      {"empty_is_not_absent", {{"a", "return {drops = {}}"}}, std::vector<Drop>{}},
      {"table_without_drops", {{"a", "return {}"}}, std::nullopt},
      {"drops_before_a_refusal_stay",
       {{"a", "return {drops = {s = 1}}"}, {"b", "return false"}},
       std::vector<Drop>{{"a:s", 1}}},
      {"looping_index_is_not_run",
       {{"a", "return setmetatable({}, {__index = function() while true do end end})"}},
       std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto vm = make_engine();
    load_handlers(vm, c.mods);
    auto e = event(vm);
    auto out = place(vm, e);
    EXPECT_EQ(out.drops, c.drops);
    EXPECT_TRUE(out.faulted.empty());
  }
}

TEST(Dispatch, UnreadableDropsFaultTheMod) {
  const char* bad[] = {"return {drops = {stone = -1}}", "return {drops = {[{}] = 1}}",
                       "return {drops = 5}", "return {drops = {stone = 'many'}}",
                       "return {drops = {stone = 4294967296}}"};
  for (const char* body : bad) {
    SCOPED_TRACE(body);
    test::LogCapture logs;
    auto vm = make_engine();
    load_handlers(vm, {{"a", "return {drops = {s = 1}}"}, {"b", body}, {"c", "return nil"}});
    auto e = event(vm);
    auto out = place(vm, e);
    EXPECT_TRUE(out.proceed);
    EXPECT_EQ(out.drops, (std::vector<Drop>{{"a:s", 1}}));
    ASSERT_EQ(out.faulted.size(), 1u);
    EXPECT_EQ(out.faulted[0].mod_id, "b");
    EXPECT_EQ(out.faulted[0].error.kind(), vm::ScriptErrorKind::Runtime);
    EXPECT_EQ(out.faulted[0].error.detail().rfind(
                  "`drops` is a table of block id to units per block: ", 0),
              0u);
    EXPECT_EQ(seen(vm), "a;b;c;");
    EXPECT_TRUE(vm.is_faulted("b"));
    auto lines = logs.containing("disabling mod after a on_place answer the engine could not "
                                 "read; the action is allowed to proceed");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("ERROR"), std::string::npos);
    EXPECT_NE(lines[0].find("mod_id=\"b\""), std::string::npos);
  }
}

TEST(Dispatch, FailingHandlerDisablesItsMod) {
  test::LogCapture logs;
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "bad", R"(
    game.register_on_place(function() error("boom", 0) end)
    game.register_on_chat(function() error("never asked") end)
  )"));
  load_handlers(vm, {{"good", "return nil"}});
  load_handlers(vm, {{"good", "return nil"}}, "on_chat");
  auto e = event(vm);
  auto out = place(vm, e);
  EXPECT_TRUE(out.proceed);
  ASSERT_EQ(out.faulted.size(), 1u);
  EXPECT_EQ(out.faulted[0].mod_id, "bad");
  EXPECT_EQ(out.faulted[0].error, vm::ScriptError::runtime("bad", "on_place", "boom"));
  EXPECT_EQ(seen(vm), "good;");
  auto lines = logs.containing("disabling mod after a on_place failure; the action is allowed to "
                               "proceed");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("ERROR"), std::string::npos);
  EXPECT_NE(lines[0].find("mod_id=\"bad\""), std::string::npos);
  EXPECT_NE(lines[0].find("error=\"mod `bad` errored in on_place: boom\""), std::string::npos);

  // Later runs of any hook skip it without calling it.
  auto chat = vm.run_hook("on_chat", "ostrel.chatters", event(vm));
  EXPECT_TRUE(chat.faulted.empty());
  EXPECT_TRUE(place(vm, event(vm)).faulted.empty());
  EXPECT_EQ(logs.containing("disabling mod").size(), 1u);
}

TEST(Dispatch, BudgetAndMemoryFailuresAreFaultsAndTheNextHandlerRuns) {
  auto vm = make_engine();
  load_handlers(vm, {{"spin", "while true do end"},
                     {"hog", "local s = 'x' while true do s = s .. s end"},
                     {"weird", "error(setmetatable({}, {__tostring = function() while true do end end}))"},
                     {"after", "for i = 1, 19000000 do end return 'finished'"}});
  auto e = event(vm);
  auto out = place(vm, e);
  ASSERT_EQ(out.faulted.size(), 3u);
  EXPECT_EQ(out.faulted[0].error, vm::ScriptError::budget_exceeded("spin", "on_place"));
  EXPECT_EQ(out.faulted[1].error, vm::ScriptError::out_of_memory("hog", "on_place"));
  EXPECT_EQ(out.faulted[2].error,
            vm::ScriptError::runtime("weird", "on_place", "(error object is a table value)"));
  EXPECT_EQ(out.refusal, "finished");
}

TEST(Dispatch, FaultedModsAreAscendingAndListedOnce) {
  auto vm = make_engine();
  vm.fault("b_mod");
  vm.fault("a_mod");
  vm.fault("b_mod");
  EXPECT_EQ(vm.faulted_mods(), (Strings{"a_mod", "b_mod"}));
  EXPECT_TRUE(vm.is_faulted("a_mod"));
  EXPECT_FALSE(vm.is_faulted("c_mod"));
}

TEST(Dispatch, ListedEntriesUseTheListedHandler) {
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "m", R"(
    game.register_on_use(function() return "plain" end)
    game.register_on_use(function() return "listed" end, {materials = {"a"}})
  )"));
  auto e = event(vm);
  const vm::DispatchEntry listed[] = {{"m", true}};
  const vm::DispatchEntry plain[] = {{"m", false}};
  const vm::DispatchEntry unknown[] = {{"nobody", false}};
  EXPECT_EQ(vm.run_hook_over("on_use", listed, e, false).refusal, "listed");
  EXPECT_EQ(vm.run_hook_over("on_use", plain, e, false).refusal, "plain");
  EXPECT_TRUE(vm.run_hook_over("on_use", unknown, e, false).proceed);
}

TEST(Dispatch, EventTables) {
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "m", R"(
    game.register_on_dig_start(function(e)
      return table.concat({e.player, e.domain, e.x, e.y, e.z, e.material, e.brush,
                           math.type(e.x), math.type(e.material)}, ",")
    end)
    game.register_on_domain_exit(function(e)
      return table.concat({e.entity, math.type(e.entity), e.from, e.to}, ",")
    end)
  )"));
  auto dig = vm.dig_event_table(kPlayer, "main", -4, 70, 3, 513, "subnode");
  ASSERT_TRUE(dig);
  const std::string hex = "0001abff" + std::string(56, '0');
  EXPECT_EQ(vm.run_hook("on_dig_start", "ostrel.dig_starters", *dig).refusal,
            hex + ",main,-4,70,3,513,subnode,integer,integer");
  EXPECT_EQ(vm.run_domain_hook("on_domain_exit", "ostrel.domain_exiters", ~std::uint64_t{0}, "a",
                               "b")
                .refusal,
            "-1,integer,a,b");
  EXPECT_EQ(vm.run_domain_hook("on_domain_exit", "ostrel.domain_exiters", 42, "a", "b").refusal,
            "42,integer,a,b");
}

TEST(Dispatch, OwnerHookAsksOnlyTheOwner) {
  test::LogCapture logs;
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "owner", "game.register_on_dialog_event(function(e) return true end)"));
  ASSERT_TRUE(load(vm, "broken", "game.register_on_dialog_event(function(e) error('x', 0) end)"));
  auto e = event(vm);
  auto answered = vm.run_owner_hook("on_dialog_event", "owner", e);
  EXPECT_TRUE(answered.asked);
  ASSERT_TRUE(answered.answer);
  EXPECT_FALSE(answered.fault);
  lua_State* L = vm.state();
  answered.answer->push(L);
  EXPECT_EQ(lua_type(L, -1), LUA_TBOOLEAN);
  EXPECT_TRUE(lua_toboolean(L, -1));
  lua_pop(L, 1);

  auto failed = vm.run_owner_hook("on_dialog_event", "broken", e);
  EXPECT_TRUE(failed.asked);
  ASSERT_TRUE(failed.fault);
  EXPECT_EQ(*failed.fault, vm::ScriptError::runtime("broken", "on_dialog_event", "x"));
  EXPECT_TRUE(vm.is_faulted("broken"));
  EXPECT_EQ(logs.containing("disabling mod after a on_dialog_event failure").size(), 1u);
  EXPECT_FALSE(vm.run_owner_hook("on_dialog_event", "broken", e).asked);
  EXPECT_FALSE(vm.run_owner_hook("on_dialog_event", "nobody", e).asked);
}

}  // namespace
}  // namespace ostrel_core::script
