// Hook registration: the refusals with their exact texts, and what a registration leaves in the
// registry.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/api/hooks.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script {
namespace {

using test::inspect;
using test::load;
using test::make_engine;
using Strings = std::vector<std::string>;

struct Refusal {
  const char* name;
  const char* code;  // run as the init.lua of mod `m`
  const char* text;  // the error text, exactly
};

const Refusal kRefusals[] = {
    {"options_on_a_hook_without_options", "game.register_on_place(function() end, {})",
     "mod `m`: `register_on_place` takes no options"},
    {"options_with_content_on_a_hook_without_options",
     "game.register_on_chat(function() end, {anywhere = true})",
     "mod `m`: `register_on_chat` takes no options"},
    {"second_on_place",
     "game.register_on_place(function() end)\ngame.register_on_place(function() end)",
     "mod `m` already registered `on_place`. One callback per hook per mod — combine them into "
     "one function."},
    {"third_on_use_listed",
     "game.register_on_use(function() end, {materials = {'a'}})\n"
     "game.register_on_use(function() end)\n"
     "game.register_on_use(function() end, {materials = {'b'}})",
     "mod `m` already registered a listed `on_use` (one with `materials`). `on_use` may be "
     "registered twice — once with `materials`, once without — and no more; combine your listed "
     "handlers into the one call."},
    {"third_on_use_unlisted",
     "game.register_on_use(function() end)\n"
     "game.register_on_use(function() end, {materials = {'a'}})\n"
     "game.register_on_use(function() end, {anywhere = true})",
     "mod `m` already registered an unlisted `on_use` (one with no `materials`). `on_use` may be "
     "registered twice — once with `materials`, once without — and no more; combine your "
     "unlisted handlers into the one call."},
    {"materials_empty", "game.register_on_use(function() end, {materials = {}})",
     "mod `m`: `materials` names no blocks; leave it out to hear every use"},
    {"materials_only_text_keys", "game.register_on_use(function() end, {materials = {x = 'a'}})",
     "mod `m`: `materials` names no blocks; leave it out to hear every use"},
    {"materials_as_text", "game.register_on_use(function() end, {materials = 'stone'})",
     "mod `m`: `materials` is a list of block ids, not string"},
    {"materials_holding_a_number",
     "game.register_on_use(function() end, {materials = {'stone', 5}})",
     "mod `m`: every entry of `materials` is a block id string"},
    {"anywhere_integer", "game.register_on_use(function() end, {anywhere = 1})",
     "mod `m`: `anywhere` is true or false, not integer"},
    {"anywhere_float", "game.register_on_use(function() end, {anywhere = 1.5})",
     "mod `m`: `anywhere` is true or false, not number"},
    {"anywhere_with_materials",
     "game.register_on_use(function() end, {anywhere = true, materials = {'a'}})",
     "mod `m`: `anywhere` is for the handler with no `materials` — a listed `on_use` is asked "
     "only at its blocks, never at nothing"},
    {"option_key_integer", "game.register_on_use(function() end, {true})",
     "mod `m`: `register_on_use` has no option of type integer"},
    {"option_key_unknown", "game.register_on_use(function() end, {colour = 'red'})",
     "mod `m`: `register_on_use` has no option `colour`"},
    {"callback_not_a_function", "game.register_on_place('f')",
     "bad argument #1 to 'register_on_place' (expected function, got string)"},
    {"options_not_a_table", "game.register_on_use(function() end, 5)",
     "bad argument #2 to 'register_on_use' (expected table, got integer)"},
    {"random_tick_twice_same_mod",
     "local n = game.register_block({id = 'a'})\n"
     "game.register_random_tick(n, function() end)\ngame.register_random_tick(n, function() end)",
     "mod `m`: a random tick is already registered for that material; one handler per material"},
    {"random_tick_out_of_range", "game.register_random_tick(70000, function() end)",
     "material id 70000 is out of range"},
    {"random_tick_negative", "game.register_random_tick(-1, function() end)",
     "material id -1 is out of range"},
    {"random_tick_float", "game.register_random_tick(3.0, function() end)",
     "material must be a block id or a numeric material, got number"},
    {"random_tick_nil", "game.register_random_tick(nil, function() end)",
     "material must be a block id or a numeric material, got nil"},
    {"random_tick_unknown_block", "game.register_random_tick('stone', function() end)",
     "no block registered with id `stone`"},
    {"random_tick_numeric_text", "game.register_random_tick('12', function() end)",
     "no block registered with id `12`"},
    {"random_tick_callback", "game.register_random_tick(7, 7)",
     "bad argument #2 to 'register_random_tick' (expected function, got integer)"},
    {"random_tick_air", "game.register_random_tick(0, function() end)",
     "mod `m`: material 0 is not a registered block; a random tick runs on blocks a mod registers"},
    {"random_tick_unknown_material", "game.register_random_tick(1, function() end)",
     "mod `m`: material 1 is not a registered block; a random tick runs on blocks a mod registers"},
    {"random_tick_number_no_block_carries",
     "game.register_block({id = 'a'})\ngame.register_random_tick(3, function() end)",
     "mod `m`: material 3 is not a registered block; a random tick runs on blocks a mod registers"},
    {"world_init_callback", "game.register_on_world_init({})",
     "bad argument #1 to 'register_on_world_init' (expected function, got table)"},
};

TEST(Registration, RefusalsHaveExactTexts) {
  for (const auto& c : kRefusals) {
    SCOPED_TRACE(c.name);
    auto vm = make_engine();
    auto r = load(vm, "m", c.code);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind(), vm::ScriptErrorKind::Runtime);
    EXPECT_EQ(r.error().detail(), c.text);
  }
}

TEST(Registration, ARefusedCallWritesNothing) {
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "m", R"(
    first = function() return "first" end
    game.register_on_place(first)
    assert(not pcall(game.register_on_place, function() return "second" end))
    assert(not pcall(game.register_on_use, function() end, {materials = {"a"}, anywhere = true}))
    assert(not pcall(game.register_on_use, function() end, {anywhere = true, colour = 1}))
  )"));
  EXPECT_EQ(vm.registry_strings("ostrel.placers"), Strings{"m"});
  EXPECT_EQ(inspect(vm, "return R['ostrel.on_place.m']()"), "first");
  EXPECT_TRUE(vm.registry_strings("ostrel.users").empty());
  EXPECT_TRUE(vm.registry_strings("ostrel.users_anywhere").empty());
  EXPECT_TRUE(vm.registry_strings("ostrel.users_scoped").empty());
  EXPECT_EQ(vm.registry_type("ostrel.on_use.m"), "nil");
  EXPECT_EQ(vm.registry_type("ostrel.on_use.scoped.m"), "nil");
  EXPECT_EQ(vm.registry_type("ostrel.use_materials.m"), "nil");
}

TEST(Registration, ListsHoldModsInLoadOrder) {
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "b", "game.register_on_place(function() end, nil)"));
  ASSERT_TRUE(load(vm, "a", "game.register_on_place(function() end)"));
  EXPECT_EQ(vm.registry_strings("ostrel.placers"), (Strings{"b", "a"}));
  EXPECT_EQ(vm.registry_type("ostrel.on_place.a"), "function");
  EXPECT_EQ(vm.registry_type("ostrel.on_place.b"), "function");

  // Every cancellable hook writes its own list under its own key.
  std::string code;
  for (const auto& h : lua_vm::kCancellableHooks) {
    code += "game.register_" + std::string(h.hook) + "(function() end)\n";
  }
  ASSERT_TRUE(load(vm, "all", code));
  for (const auto& h : lua_vm::kCancellableHooks) {
    SCOPED_TRACE(h.hook);
    auto list = vm.registry_strings(h.list);
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.back(), "all");
    EXPECT_EQ(vm.registry_type("ostrel." + std::string(h.hook) + ".all"), "function");
  }
}

TEST(Registration, ListedAndUnlistedUse) {
  struct Case {
    const char* name;
    const char* code;
    Strings users, anywhere, scoped;
    const char* materials;  // ostrel.use_materials.m joined by ",", or "" when absent
  };
  const Case cases[] = {
      {"listed_qualifies_ids",
       "game.register_on_use(function() end, {materials = {'campfire_lit', 'other:kiln'}})",
       {}, {}, {"m"}, "m:campfire_lit,other:kiln"},
      {"unlisted_then_listed",
       "game.register_on_use(function() end)\n"
       "game.register_on_use(function() end, {materials = {'a', 'a'}})",
       {"m"}, {}, {"m"}, "m:a,m:a"},
      {"listed_then_unlisted_anywhere",
       "game.register_on_use(function() end, {materials = {'a'}, anywhere = false})\n"
       "game.register_on_use(function() end, {anywhere = true})",
       {"m"}, {"m"}, {"m"}, "m:a"},
      {"hole_ends_the_list",
       "game.register_on_use(function() end, {materials = {'a', nil, 'c'}})", {}, {}, {"m"},
       "m:a"},
      {"anywhere_false_is_plain", "game.register_on_use(function() end, {anywhere = false})",
       {"m"}, {}, {}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto vm = make_engine();
    ASSERT_TRUE(load(vm, "m", c.code));
    EXPECT_EQ(vm.registry_strings("ostrel.users"), c.users);
    EXPECT_EQ(vm.registry_strings("ostrel.users_anywhere"), c.anywhere);
    EXPECT_EQ(vm.registry_strings("ostrel.users_scoped"), c.scoped);
    const auto materials = vm.registry_strings("ostrel.use_materials.m");
    std::string joined;
    for (const auto& m : materials) joined += (joined.empty() ? "" : ",") + m;
    EXPECT_EQ(joined, c.materials);
    EXPECT_EQ(vm.registry_type("ostrel.on_use.scoped.m"), c.scoped.empty() ? "nil" : "function");
    EXPECT_EQ(vm.registry_type("ostrel.on_use.m"), c.users.empty() ? "nil" : "function");
  }
}

TEST(Registration, RandomTicksHaveOneHandlerPerMaterial) {
  auto vm = make_engine();
  // A block id resolves through the block table; numbers must name a registered block.
  ASSERT_EQ(inspect(vm, "R['ostrel.blocks']['m:grass'] = 40 "
                        "R['ostrel.blocks']['m:sand'] = 300 "
                        "R['ostrel.blocks']['m:dirt'] = 2 return 1"),
            "1");
  ASSERT_TRUE(load(vm, "first", R"(
    game.register_random_tick(300, function() end)
    game.register_random_tick("m:grass", function() end)
    game.register_random_tick(2, function() end)
  )"));
  auto second = load(vm, "second", "game.register_random_tick(40, function() end)");
  ASSERT_FALSE(second.has_value());
  EXPECT_EQ(second.error().detail(),
            "mod `second`: a random tick is already registered for that material; one handler "
            "per material");
  EXPECT_EQ(inspect(vm, "return R['ostrel.random_tick_owners'][40]"), "first");
  EXPECT_EQ(vm.random_tick_materials(), (std::vector<std::uint16_t>{2, 40, 300}));
}

TEST(Registration, OncePerModHooksReplaceTheirHandler) {
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "m", R"(
    game.register_on_world_init(function() return 1 end)
    game.register_on_world_init(function() return 2 end)
    game.register_on_entity_step(function() end)
    game.register_on_entity_step(function() end)
  )"));
  ASSERT_TRUE(load(vm, "n", "game.register_on_entity_step(function() end)"));
  EXPECT_EQ(vm.registry_strings("ostrel.world_init"), Strings{"m"});
  EXPECT_EQ(inspect(vm, "return R['ostrel.on_world_init.m']()"), "2");
  EXPECT_EQ(vm.entity_steppers(), (Strings{"m", "n"}));
}

TEST(Registration, EveryRegistrationIsClosedAfterTheFreeze) {
  auto vm = make_engine();
  ASSERT_TRUE(vm.freeze());
  EXPECT_EQ(inspect(vm, "return R['ostrel.frozen']"), "true");
  const char* calls[] = {
      "game.register_on_chat(function() end)",
      "game.register_on_chat(function() end, {anywhere = 1})",
      "game.register_on_use(function() end, {materials = {}})",
      "game.register_random_tick(5, function() end)",
      "game.register_on_world_init(function() end)",
      "game.register_on_entity_step(function() end)",
  };
  for (const char* call : calls) {
    SCOPED_TRACE(call);
    auto r = load(vm, "late", call);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().detail(), "mod `late`: registration is closed");
  }
  EXPECT_TRUE(vm.registry_strings("ostrel.chatters").empty());
  EXPECT_TRUE(vm.entity_steppers().empty());
}

TEST(Registration, FreezeWarnsAboutListedBlocksNobodyRegistered) {
  test::LogCapture logs;
  auto vm = make_engine();
  ASSERT_EQ(inspect(vm, "R['ostrel.blocks']['m:known'] = 2 return 1"), "1");
  ASSERT_TRUE(load(vm, "m", "game.register_on_use(function() end, {materials = {'known', 'ghost'}})"));
  ASSERT_TRUE(vm.freeze());
  auto warned = logs.containing("lists a block nobody registered");
  ASSERT_EQ(warned.size(), 1u);
  EXPECT_NE(warned[0].find("WARN"), std::string::npos);
  EXPECT_NE(warned[0].find("block=\"m:ghost\""), std::string::npos);
  EXPECT_NE(warned[0].find("mod_id=\"m\""), std::string::npos);
}

}  // namespace
}  // namespace ostrel_core::script
