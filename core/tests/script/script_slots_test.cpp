// Access slots, the world seed and the fluid id table.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "script/lua_vm/lua_vm.hpp"
#include "script/lua_vm/ref.hpp"
#include "script/lua_vm/slots.hpp"
#include "script/slot.hpp"
#include "support/mod_env.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script {
namespace {

using test::inspect;
using test::load;
using test::make_engine;

class FakeEdit final : public vm::WorldEdit {
 public:
  explicit FakeEdit(bool answer) : answer_(answer) {}
  bool set_block(std::string_view, coords::BlockPos, std::string_view) override { return answer_; }
  bool set_partial(std::string_view, coords::BlockPos, std::string_view, std::uint32_t) override {
    return answer_;
  }
  bool merge_partial(std::string_view, coords::BlockPos, std::string_view,
                     std::uint32_t) override {
    return answer_;
  }

 private:
  bool answer_;
};

bool edit_through(Slot<vm::WorldEdit>& slot) {
  return slot.with([](vm::WorldEdit* e) { return e != nullptr && e->set_block("main", {}, "m:x"); });
}

TEST(Slots, SecondInstallReplacesTheFirst) {
  auto vm = make_engine();
  // Taken before anything is installed, as a `game` function made during loading would.
  auto held = vm.slots().world_edit;
  EXPECT_FALSE(edit_through(*held));

  auto first = std::make_shared<FakeEdit>(false);
  std::weak_ptr<FakeEdit> first_seen = first;
  vm.set_world_edit(std::move(first));
  EXPECT_FALSE(first_seen.expired());
  EXPECT_FALSE(edit_through(*held));

  vm.set_world_edit(std::make_shared<FakeEdit>(true));
  EXPECT_TRUE(first_seen.expired());
  EXPECT_TRUE(edit_through(*held));
}

TEST(Slots, PoisonedSlotKeepsWhatItHeld) {
  struct Service {
    int id;
  };
  Slot<Service> slot;
  slot.install(std::make_shared<Service>(Service{1}));
  bool poisoned = false;
  EXPECT_THROW(slot.with([](Service*) -> int { throw std::runtime_error("holder failed"); }),
               std::runtime_error);
  EXPECT_TRUE(slot.poisoned());

  auto late = std::make_shared<Service>(Service{2});
  std::weak_ptr<Service> late_seen = late;
  slot.install(std::move(late));
  EXPECT_TRUE(late_seen.expired());
  EXPECT_EQ(slot.with([](Service* s) { return s == nullptr ? 0 : s->id; }, &poisoned), 0);
  EXPECT_TRUE(poisoned);
  EXPECT_EQ(slot.get(), nullptr);
}

TEST(Slots, ALuaErrorWhileUsingASlotNeverPoisonsIt) {
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "m", ""));
  auto slot = vm.slots().world_edit;
  vm.set_world_edit(std::make_shared<FakeEdit>(true));
  // A runtime function that refuses the script while it holds the slot.
  lua_State* L = vm.state();
  ASSERT_TRUE(vm.push_environment("m"));
  lua_pushlightuserdata(L, slot.get());
  lua_pushcclosure(
      L,
      [](lua_State* s) -> int {
        auto* held = static_cast<Slot<vm::WorldEdit>*>(lua_touserdata(s, lua_upvalueindex(1)));
        return held->with(
            [&](vm::WorldEdit*) -> int {
              lua_pushliteral(s, "refused for the script");
              return lua_error(s);
            });
      },
      1);
  lua_setfield(L, -2, "use");
  lua_pop(L, 1);
  EXPECT_EQ(test::run_in(vm, "m", "use()"), "refused for the script");
  EXPECT_FALSE(slot->poisoned());
  EXPECT_TRUE(edit_through(*slot));
}

TEST(Slots, EveryServiceSlotStartsEmptyAndUnpoisoned) {
  auto vm = make_engine();
  const auto& s = vm.slots();
  const bool empty[] = {
      s.light->get() == nullptr,      s.fluids->get() == nullptr,
      s.entities->get() == nullptr,   s.domains->get() == nullptr,
      s.hud->get() == nullptr,        s.atmosphere->get() == nullptr,
      s.containers->get() == nullptr, s.storage->get() == nullptr,
      s.plans->get() == nullptr,      s.world_edit->get() == nullptr,
      s.sight->get() == nullptr,      s.paths->get() == nullptr,
      s.tools->get() == nullptr,      s.inventories->get() == nullptr,
      s.sound->get() == nullptr,      s.particles->get() == nullptr,
      s.dialogs->get() == nullptr,    s.seed->get() == nullptr,
      s.stars->get() == nullptr};
  for (std::size_t i = 0; i < std::size(empty); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(empty[i]);
  }
  // Distinct cells: the sight and path slots are never the same object.
  EXPECT_NE(static_cast<const void*>(s.sight.get()), static_cast<const void*>(s.paths.get()));
}

TEST(WorldSeed, ReachesEveryModAsASignedInteger) {
  test::LogCapture logs;
  auto vm = make_engine();
  const char* reader = "game.register_on_chat(function() return tostring(game.world_seed) end)";
  ASSERT_TRUE(load(vm, "a", reader));
  ASSERT_TRUE(load(vm, "b", "game = 5"));
  ASSERT_TRUE(load(vm, "c", reader));
  std::uint8_t player[32] = {};
  auto e = vm.hook_event(player);
  ASSERT_TRUE(e);
  const vm::DispatchEntry a[] = {{"a", false}};
  EXPECT_EQ(vm.run_hook_over("on_chat", a, *e, false).refusal, "nil");

  struct Case {
    std::uint64_t seed;
    const char* seen;
  };
  const Case cases[] = {{~std::uint64_t{0}, "-1"},
                        {std::uint64_t{1} << 63, "-9223372036854775808"},
                        {42, "42"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seen);
    vm.set_world_seed(c.seed);
    auto out = vm.run_hook("on_chat", "ostrel.chatters", *e);
    EXPECT_EQ(out.refusal, c.seen);  // the first mod's answer ends the run
    const vm::DispatchEntry last[] = {{"c", false}};
    EXPECT_EQ(vm.run_hook_over("on_chat", last, *e, false).refusal, c.seen);
    EXPECT_EQ(*vm.slots().seed->get(), c.seed);
  }
  auto lines = logs.containing("could not install the world seed: ");
  ASSERT_EQ(lines.size(), std::size(cases));
  EXPECT_NE(lines[0].find("mod_id=\"b\""), std::string::npos);
  EXPECT_NE(lines[0].find("ERROR"), std::string::npos);
}

TEST(WorldSeed, APoisonedSeedSlotStillReachesTheMods) {
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "m", "game.register_on_chat(function() return tostring(game.world_seed) end)"));
  vm.set_world_seed(1);
  vm.slots().seed->poison();
  vm.set_world_seed(2);
  EXPECT_EQ(vm.slots().seed->get(), nullptr);
  std::uint8_t player[32] = {};
  auto e = vm.hook_event(player);
  ASSERT_TRUE(e);
  EXPECT_EQ(vm.run_hook("on_chat", "ostrel.chatters", *e).refusal, "2");
}

TEST(WorldSeed, AMetamethodOnGameIsNotRun) {
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "m", R"(
    setmetatable(game, {__newindex = function() while true do end end})
    game.register_on_chat(function() return tostring(rawget(game, "world_seed")) end)
  )"));
  vm.set_world_seed(7);
  std::uint8_t player[32] = {};
  auto e = vm.hook_event(player);
  ASSERT_TRUE(e);
  EXPECT_EQ(vm.run_hook("on_chat", "ostrel.chatters", *e).refusal, "7");
}

TEST(FluidIds, InstallAndReplace) {
  auto vm = make_engine();
  vm.set_fluid_ids({});
  EXPECT_EQ(vm.registry_type("ostrel.fluid_ids"), "table");
  EXPECT_EQ(inspect(vm, "return next(R['ostrel.fluid_ids']) == nil"), "true");

  const std::vector<std::pair<std::string, std::uint8_t>> ids = {
      {"water", 1}, {"lava", 2}, {"water", 3}};
  vm.set_fluid_ids(ids);
  EXPECT_EQ(inspect(vm, "local t = R['ostrel.fluid_ids'] return t.water .. ',' .. t.lava .. ',' .. "
                        "math.type(t.lava)"),
            "3,2,integer");
}

}  // namespace
}  // namespace ostrel_core::script
