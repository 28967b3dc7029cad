// The connection task's own work per pass: the streaming window of a player who holds every
// chunk around it (an idle pass), one that needs its whole view, and what a PlayerInput costs
// the hub in allocations.

#include <benchmark/benchmark.h>

#include <memory>

#include "allocations.hpp"
#include "hub/hub.hpp"
#include "hub/player_slot.hpp"
#include "transport/streamer.hpp"

namespace {

using namespace ostrel_server::transport;

// View 8 wide and 12 high, everything in view sent: the window's share of an idle tick.
void BM_StreamerIdlePass(benchmark::State& state) {
  stream::Streamer s("overworld", {}, 8, 12);
  for (const auto& p : s.next_needed(100000)) s.sent.insert(p);
  for (const auto& p : s.horizon()) s.summarised_at[p] = 5;  // held at the farthest level
  for (auto _ : state) {
    benchmark::DoNotOptimize(s.next_needed(0));
    benchmark::DoNotOptimize(s.next_summaries(2));
  }
}
BENCHMARK(BM_StreamerIdlePass);

// A fresh window asking for its first 11 chunks, as the first tick after a join does.
void BM_StreamerFirstRequests(benchmark::State& state) {
  for (auto _ : state) {
    stream::Streamer s("overworld", {}, 8, 12);
    benchmark::DoNotOptimize(s.next_needed(11));
  }
}
BENCHMARK(BM_StreamerFirstRequests);

// One PlayerInput into the hub; allocs/op counts heap allocations per input.
void BM_PlayerInputToHub(benchmark::State& state) {
  auto hub = endpoint::Shared::create({});
  endpoint::PlayerUuid id;
  id.bytes.fill(7);
  auto slot = endpoint::PlayerSlot::claim(hub, id, "ada");
  const ostrel_core::phys::Intent intent{1.0f, 0.0f, ostrel_core::phys::Gait::Walk, false, false};
  std::uint64_t seq = 0;
  const std::size_t before = ostrel_bench::allocations();
  for (auto _ : state) {
    benchmark::DoNotOptimize(hub->queue_input(id, ++seq, intent, 0.5f, 0.0f));
  }
  state.counters["allocs/op"] = benchmark::Counter(static_cast<double>(ostrel_bench::allocations() - before) /
                                                   static_cast<double>(state.iterations()));
}
BENCHMARK(BM_PlayerInputToHub);

}  // namespace
