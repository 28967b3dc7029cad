// Dialogs from a mod to one player's queue: a 500-widget dialog read, checked, encoded and
// queued through Screens on a player hub; and the refusals of tables that name far more widgets
// than they hold (a doubling chain, a wide table shared by every child).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <lua5.4/lua.hpp>
#include <memory>
#include <string>

#include "base/text.hpp"
#include "hub/hub.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "services/screens.hpp"
#include "support/hub_fixture.hpp"

namespace {

using ostrel_core::script::lua_vm::LuaVm;

constexpr std::uint64_t kMemoryLimit = 268'435'456;
constexpr std::uint32_t kBudget = 20'000'000;

constexpr const char* kInit = R"(
  -- 500 widgets: a column of 99 rows, each a label, a button, a slider and a dropdown.
  local rows = {}
  for i = 1, 99 do
    rows[i] = { type = 'container', direction = 'row', gap = 4, children = {
      { type = 'label', text = 'Row ' .. i, style = { text_colour = { 240, 240, 200 } } },
      { type = 'button', name = 'buy' .. i, text = 'Buy', tooltip = 'Costs ' .. i .. ' gold' },
      { type = 'slider', name = 'n' .. i, min = 0, max = 64, value = i % 64 },
      { type = 'dropdown', name = 'd' .. i, options = { 'one', 'two', 'three' }, selected = 2 },
    } }
  end
  dialog = { type = 'container', padding = 8, children = rows }

  local chain = { type = 'spacer' }
  for _ = 2, 30 do chain = { type = 'container', children = { chain, chain } } end
  bomb = chain

  local wide = { type = 'spacer' }
  for i = 1, 100000 do wide[i] = i end
  local many = {}
  for i = 1, 4095 do many[i] = wide end
  shared = { type = 'container', children = many }

  function show(player, tree)
    local ok, answer = pcall(game.show_dialog, { player = player, form = 'shop', tree = tree })
    if tree == dialog and answer ~= true then error('not shown: ' .. tostring(answer)) end
    if tree == bomb and ok then error('the chain was read') end
  end
)";

struct Setup {
  std::shared_ptr<ostrel_server::transport::endpoint::Shared> hub = ostrel_server::test::make_hub();
  LuaVm vm = [] {
    auto vm = LuaVm::create(kMemoryLimit, kBudget);
    if (!vm || !vm->load_mod("m", kInit, "mods/m")) std::abort();
    return std::move(*vm);
  }();
  ostrel_core::identity::PlayerUuid player = ostrel_server::test::player(1);
  Setup() {
    hub->add_player(player, ostrel_server::transport::endpoint::kSpawn);
    vm.set_dialog_access(std::make_shared<ostrel_server::handle::Screens>(hub));
  }
  // One show_dialog of the global `tree` in its own entry.
  void show(const char* tree) {
    lua_State* L = vm.state();
    if (!vm.push_environment("m")) std::abort();
    lua_getfield(L, -1, "show");
    const std::string id = ostrel_core::text::hex_bytes(player.bytes);
    lua_pushlstring(L, id.data(), id.size());
    lua_getfield(L, -3, tree);
    lua_remove(L, -4);
    if (!vm.call_entry("m", "bench", 2)) std::abort();
    lua_pop(L, 1);
  }
};

void BM_ShowDialog500Widgets(benchmark::State& state) {
  Setup s;
  for (auto _ : state) {
    s.show("dialog");
    benchmark::DoNotOptimize(s.hub->take_entity_messages(s.player));
  }
}
BENCHMARK(BM_ShowDialog500Widgets)->Unit(benchmark::kMicrosecond);

// Fan-out 2, 30 levels: refused at the 4097th widget.
void BM_ShowDialogDoublingChainRefused(benchmark::State& state) {
  Setup s;
  for (auto _ : state) s.show("bomb");
}
BENCHMARK(BM_ShowDialogDoublingChainRefused)->Unit(benchmark::kMicrosecond);

// One widget table with 100,000 list entries as 4095 children: its keys are checked once.
void BM_ShowDialogWideSharedChild(benchmark::State& state) {
  Setup s;
  for (auto _ : state) {
    s.show("shared");
    benchmark::DoNotOptimize(s.hub->take_entity_messages(s.player));
  }
}
BENCHMARK(BM_ShowDialogWideSharedChild)->Unit(benchmark::kMicrosecond);

}  // namespace
