// Inventory views, the main view's size, the slot grain, key actions and HUD scripts: refusal
// texts, what is stored and what the readers hand back.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/lua_vm/lua_vm.hpp"
#include "script/api/media.hpp"
#include "support/mod_env.hpp"
#include "support/script_engine.hpp"
#include "support/temp_dir.hpp"
#include "support/write_file.hpp"

namespace ostrel_core::script {
namespace {

using test::load_empty;
using test::make_engine;
using test::run_in;

struct Case {
  const char* name;
  const char* code;  // run in mod `m`, whose directory holds hud.lua
  const char* text;  // the refusal, exactly
};

const Case kViewRefusals[] = {
    {"zero_slots", "game.register_view({id = 'worn', slots = 0})",
     "register_view(\"m:worn\"): 0 slots, which is outside 1..=256. Every slot of every view is "
     "sent to a client on any change."},
    {"257_slots", "game.register_view({id = 'worn', slots = 257})",
     "register_view(\"m:worn\"): 257 slots, which is outside 1..=256. Every slot of every view is "
     "sent to a client on any change."},
    {"negative_slots", "game.register_view({id = 'worn', slots = -1})",
     "register_view: missing required field `slots`"},
    {"missing_slots", "game.register_view({id = 'worn'})",
     "register_view: missing required field `slots`"},
    {"text_slots", "game.register_view({id = 'worn', slots = 'many'})",
     "register_view: missing required field `slots`"},
    {"missing_id", "game.register_view({slots = 4})", "register_view: missing required field `id`"},
    {"foreign_namespace", "game.register_view({id = 'other:worn', slots = 4})",
     "mod `m` may not register into namespace `other`: a mod owns only its own id as a namespace"},
    {"twice", "game.register_view({id = 'worn', slots = 4}) game.register_view({id = 'm:worn', "
              "slots = 5})",
     "register_view(\"m:worn\"): already registered"},
    {"not_a_table", "game.register_view('worn')",
     "bad argument #1 to 'register_view' (expected table, got string)"},
    {"main_slots_zero", "game.set_main_slots(0)", "set_main_slots(0): outside 1..=256"},
    {"main_slots_257", "game.set_main_slots(257)", "set_main_slots(257): outside 1..=256"},
    {"grain_28", "game.set_slot_grain(28)", "set_slot_grain(28): outside 1..=27"},
    {"grain_0", "game.set_slot_grain(0)", "set_slot_grain(0): outside 1..=27"},
    {"grain_negative", "game.set_slot_grain(-1)",
     "bad argument #1 to 'set_slot_grain' (-1 is out of range for an unsigned 32-bit integer)"},
    {"action_without_id", "game.register_action({description = 'wave'})",
     "register_action: bad field `id` (expected string, got nil)"},
    {"action_foreign", "game.register_action({id = 'x:wave'})",
     "mod `m` may not register into namespace `x`: a mod owns only its own id as a namespace"},
    {"action_twice", "game.register_action({id = 'wave'}) game.register_action({id = 'wave'})",
     "register_action(\"m:wave\"): already registered"},
    {"action_key_table", "game.register_action({id = 'wave', default_key = {}})",
     "register_action: bad field `default_key` (expected string, got table)"},
    {"hud_integer", "game.register_hud_script(42)",
     "mod `m`: register_hud_script wants a file name or a table with one in it, not a integer"},
    {"hud_nil", "game.register_hud_script()",
     "mod `m`: register_hud_script wants a file name or a table with one in it, not a nil"},
    {"hud_table_without_file", "game.register_hud_script({reserve = 10})",
     "register_hud_script: bad field `file` (expected string, got nil)"},
    {"hud_missing_file", "game.register_hud_script('gone.lua')",
     "register_hud_script: `gone.lua` is not a file in mod `m`'s directory: No such file or "
     "directory (os error 2)"},
    {"hud_escaping", "game.register_hud_script('../n/hud.lua')",
     "register_hud_script: path `../n/hud.lua` escapes the mod directory. Paths are relative to "
     "your mod's own directory."},
    {"hud_absolute", "game.register_hud_script('/etc/passwd')",
     "register_hud_script: path `/etc/passwd` is absolute. Paths are relative to your mod's own "
     "directory."},
};

class Views : public ::testing::Test {
 protected:
  void SetUp() override {
    test::write_file(dir_ / "m/hud.lua", "-- hud");
    test::write_file(dir_ / "m/other.lua", "-- other");
    test::write_file(dir_ / "n/hud.lua", "-- hud");
    for (const char* mod : {"m", "n", "a", "b", "c", "core_armour"}) load_empty(vm_, dir_.path(), mod);
  }
  test::TempDir dir_;
  lua_vm::LuaVm vm_ = make_engine();
};

TEST_F(Views, RefusalsHaveExactTextsAndWriteNothing) {
  for (const auto& c : kViewRefusals) {
    SCOPED_TRACE(c.name);
    auto vm = make_engine();
    load_empty(vm, dir_.path(), "m");
    EXPECT_EQ(run_in(vm, "m", c.code), c.text);
    // The two-call cases keep what their first call wrote, and no more.
    const std::size_t kept = std::string(c.name).ends_with("twice") ? 1 : 0;
    EXPECT_EQ(media::registered_views(vm).size() + media::registered_actions(vm).size(), kept);
    EXPECT_EQ(media::registered_hud_scripts(vm).size(), 0u);
    EXPECT_EQ(media::registered_main_slots(vm), std::nullopt);
    EXPECT_EQ(media::registered_slot_grain(vm), std::nullopt);
  }
}

TEST_F(Views, ViewsAreQualifiedAndReadInIdOrder) {
  EXPECT_EQ(run_in(vm_, "core_armour", "game.register_view({id = 'worn', slots = 4})"), "");
  EXPECT_EQ(run_in(vm_, "m", "game.register_view({id = 'm:bag', slots = 256})"), "");
  EXPECT_EQ(run_in(vm_, "a", "game.register_view({id = 'z', slots = '3'})"), "");
  // The same id from another mod is refused too.
  EXPECT_EQ(run_in(vm_, "n", "game.register_view({id = 'worn', slots = 4})"), "");
  EXPECT_EQ(run_in(vm_, "core_armour", "game.register_view({id = 'worn', slots = 9})"),
            "register_view(\"core_armour:worn\"): already registered");
  const auto views = media::registered_views(vm_);
  ASSERT_EQ(views.size(), 4u);
  const std::vector<std::pair<std::string, std::size_t>> want = {
      {"a:z", 3}, {"core_armour:worn", 4}, {"m:bag", 256}, {"n:worn", 4}};
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(views[i].id, want[i].first);
    EXPECT_EQ(views[i].slots, want[i].second);
  }
}

TEST_F(Views, MainSlotsAndGrainAreFixedByTheFirstMod) {
  EXPECT_EQ(media::registered_main_slots(vm_), std::nullopt);
  EXPECT_EQ(media::registered_slot_grain(vm_), std::nullopt);
  EXPECT_EQ(run_in(vm_, "a", "game.set_main_slots(28)"), "");
  EXPECT_EQ(run_in(vm_, "b", "game.set_main_slots(28)"), "");
  EXPECT_EQ(test::inspect(vm_, "return R['ostrel.main_slots_by']"), "b");
  EXPECT_EQ(run_in(vm_, "c", "game.set_main_slots(36)"),
            "set_main_slots(36): mod `b` already fixed the main view at 28 slots");
  EXPECT_EQ(media::registered_main_slots(vm_), 28u);

  EXPECT_EQ(run_in(vm_, "a", "game.set_slot_grain(27)"), "");
  EXPECT_EQ(run_in(vm_, "c", "game.set_slot_grain(9)"),
            "set_slot_grain(9): mod `a` already set the grain to 27 units");
  EXPECT_EQ(media::registered_slot_grain(vm_), 27u);
}

TEST_F(Views, ActionsReadBackInOrderWithEmptyTextsForMissingFields) {
  EXPECT_EQ(run_in(vm_, "m", "game.register_action({id = 'wave', default_key = 'KeyJ'})"), "");
  EXPECT_EQ(run_in(vm_, "n", "game.register_action({id = 'n:sit', description = 'Sit down'})"),
            "");
  // Entries the readers pass over: not a table, an id that is not text.
  EXPECT_EQ(test::inspect(vm_, "local a = R['ostrel.actions'] a[3] = 5 a[4] = {id = {}} "
                               "a[5] = {id = 'x:y', mod_id = 7} return #a"),
            "5");
  const std::vector<media::Action> want = {{"m:wave", "", "KeyJ", "m"},
                                           {"n:sit", "Sit down", "", "n"},
                                           {"x:y", "", "", ""}};
  EXPECT_EQ(media::registered_actions(vm_), want);
}

struct Reserve {
  const char* given;
  std::uint16_t stored;
};

TEST_F(Views, HudReserveIsClampedAndTruncated) {
  const Reserve kReserves[] = {{"130", 130}, {"900", 540}, {"540.5", 540}, {"-5", 0},
                               {"12.9", 12}, {"0/0", 0},   {"nil", 0},     {"'7'", 7}};
  for (const auto& c : kReserves) {
    SCOPED_TRACE(c.given);
    auto vm = make_engine();
    load_empty(vm, dir_.path(), "m");
    ASSERT_EQ(run_in(vm, "m", std::string("game.register_hud_script({file = 'hud.lua', reserve = ") +
                                  c.given + "})"),
              "");
    const std::vector<media::ScriptFile> want = {{"hud.lua", c.stored, "m"}};
    EXPECT_EQ(media::registered_hud_scripts(vm), want);
  }
}

TEST_F(Views, OneHudScriptPerModReplacedInPlace) {
  EXPECT_EQ(run_in(vm_, "m", "game.register_hud_script('hud.lua')"), "");
  EXPECT_EQ(run_in(vm_, "n", "game.register_hud_script({file = 'hud.lua', reserve = 100})"), "");
  EXPECT_EQ(run_in(vm_, "m", "game.register_hud_script({file = 'other.lua', reserve = 20})"), "");
  const std::vector<media::ScriptFile> want = {{"other.lua", 20, "m"}, {"hud.lua", 100, "n"}};
  EXPECT_EQ(media::registered_hud_scripts(vm_), want);
}

TEST_F(Views, EveryFunctionRefusesOnceFrozen) {
  ASSERT_TRUE(vm_.freeze().has_value());
  const char* kCalls[] = {"game.register_view({id = 'v', slots = 1})", "game.set_main_slots(10)",
                          "game.set_slot_grain(3)", "game.register_action({id = 'a'})",
                          "game.register_hud_script('hud.lua')"};
  for (const char* call : kCalls) {
    SCOPED_TRACE(call);
    EXPECT_EQ(run_in(vm_, "m", call), "mod `m`: registration is closed");
  }
}

}  // namespace
}  // namespace ostrel_core::script
