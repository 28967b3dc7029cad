// The player hub's roads under load: pushes from eight connection threads against one draining
// tick, a broadcast reaching 200 connections, and the fixed-step clock's pass.

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "hub/hub.hpp"
#include "tick/accumulator.hpp"

namespace {

using namespace ostrel_server::transport::endpoint;
namespace proto = ostrel_core::proto;

PlayerUuid player(int n) {
  PlayerUuid p;
  p.bytes.fill(static_cast<std::uint8_t>(n));
  return p;
}

std::shared_ptr<Shared> g_hub;  // shared by the threads of one run

// A chat push from each of 8 threads; thread 0 also drains every 256th pass, as the tick
// would, so pushes keep being accepted. items/s counts accepted pushes only.
void BM_HubPushFrom8Threads(benchmark::State& state) {
  if (state.thread_index() == 0) g_hub = Shared::create({});
  auto p = player(state.thread_index());
  std::int64_t accepted = 0;
  std::uint32_t pass = 0;
  for (auto _ : state) {
    accepted += g_hub->queue_chat(p, "hello there");
    if (state.thread_index() == 0 && ++pass % 256 == 0) benchmark::DoNotOptimize(g_hub->drain_chat());
  }
  state.SetItemsProcessed(accepted);
  if (state.thread_index() == 0) g_hub.reset();
}
BENCHMARK(BM_HubPushFrom8Threads)->Threads(8)->UseRealTime();

// One entity message and one take for a player, on one thread: the per-message cost the tick
// and the connection task share.
void BM_HubEntityMessagePushAndTake(benchmark::State& state) {
  auto hub = Shared::create({});
  auto p = player(1);
  for (auto _ : state) {
    hub->push_entity_messages(p, {proto::server::EntityMoves{}});
    benchmark::DoNotOptimize(hub->take_entity_messages(p));
  }
}
BENCHMARK(BM_HubEntityMessagePushAndTake);

// One BlockEdit broadcast, then every one of 200 subscribed connections receives it.
void BM_HubBroadcastTo200(benchmark::State& state) {
  auto hub = Shared::create({});
  std::vector<ostrel_core::sync::broadcast::Receiver<SharedBroadcast>> receivers;
  for (int i = 0; i < 200; ++i) receivers.push_back(hub->subscribe_broadcasts());
  for (auto _ : state) {
    hub->broadcast_in("overworld", proto::server::BlockEdit{proto::edit::Set{{1, 2, 3}, 7}, std::nullopt});
    for (auto& rx : receivers) benchmark::DoNotOptimize(rx.try_recv());
  }
  state.SetItemsProcessed(state.iterations() * 200);
}
BENCHMARK(BM_HubBroadcastTo200);

// One pass of the fixed-step clock (the test suite checks that it allocates nothing).
void BM_AccumulatorAdvance(benchmark::State& state) {
  ostrel_core::tick::Accumulator a;
  std::uint64_t ms = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(a.advance(ostrel_core::tick::Span::from_millis(ms++ % 120)));
  }
}
BENCHMARK(BM_AccumulatorAdvance);

}  // namespace

namespace {

HubInit inventory_hub() {
  HubInit init;
  init.views = {{"mod:bag", 9}};
  init.tools = {{"hand", Tool{.id = "hand"}}};
  init.default_tool = "hand";
  return init;
}

// One click that moves a stack to the cursor and one that puts it back, then one credit of a
// stack that merges into a slot: the connection task's and the tick's inventory work.
void BM_HubClickAndCredit(benchmark::State& state) {
  auto hub = Shared::create(inventory_hub());
  auto p = player(1);
  hub->add_player(p, kSpawn);
  hub->credit(p, {Stack{.material = 2, .units = 100}});
  for (auto _ : state) {
    hub->click_slot(p, "player:main", 0, 0, std::nullopt);
    hub->click_slot(p, "player:main", 0, 0, std::nullopt);
    benchmark::DoNotOptimize(hub->credit(p, {Stack{.material = 2, .units = 1}}));
    hub->debit(p, Stack{.material = 2}, 1);
  }
}
BENCHMARK(BM_HubClickAndCredit);

// The connection task's six presentation polls for a player with every value already sent.
void BM_HubSixPollsNothingChanged(benchmark::State& state) {
  auto hub = Shared::create({});
  auto p = player(1);
  hub->set_hud_values(p, "mod", {{"hp", ostrel_core::hud::state::Number{20}}});
  hub->set_sky_modifier(p, ostrel_core::atmosphere::SkyModifier{});
  hub->set_precipitation(p, std::nullopt);
  hub->set_rainbow(p, ostrel_core::atmosphere::Rainbow{});
  hub->set_cloud_map(p, std::nullopt);
  hub->set_clouds(p, ostrel_core::atmosphere::Clouds{});
  auto poll_all = [&] {
    benchmark::DoNotOptimize(hub->unsent_hud_values(p));
    benchmark::DoNotOptimize(hub->unsent_sky_modifier(p));
    benchmark::DoNotOptimize(hub->unsent_precipitation(p));
    benchmark::DoNotOptimize(hub->unsent_rainbow(p));
    benchmark::DoNotOptimize(hub->unsent_cloud_map(p));
    benchmark::DoNotOptimize(hub->unsent_clouds(p));
  };
  poll_all();  // hands everything out once
  for (auto _ : state) poll_all();
}
BENCHMARK(BM_HubSixPollsNothingChanged);

// One tick's dig work for 200 digging players.
void BM_HubAdvanceDig200(benchmark::State& state) {
  auto hub = Shared::create(inventory_hub());
  for (int i = 0; i < 200; ++i) {
    PlayerUuid p;
    p.bytes[0] = static_cast<std::uint8_t>(i);
    p.bytes[1] = static_cast<std::uint8_t>(i >> 8);
    hub->add_player(p, kSpawn);
    hub->set_dig(p, SubNodePos{i, 0, 0});
  }
  auto digs = hub->digs_in_progress();
  for (auto _ : state) {
    for (const auto& d : digs) benchmark::DoNotOptimize(hub->advance_dig(d.player, 27, 2, 1e9f));
  }
  state.SetItemsProcessed(state.iterations() * 200);
}
BENCHMARK(BM_HubAdvanceDig200);

}  // namespace
