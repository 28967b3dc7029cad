#include <benchmark/benchmark.h>

#include <vector>

#include "proto/client.hpp"
#include "proto/codec.hpp"
#include "proto/server_message.hpp"

namespace {

using namespace ostrel_core::proto;

std::vector<std::uint8_t> typical_input() {
  return encode(ClientMessage{
      client::PlayerInput{123456789, {0.7f, 0.0f, -0.7f}, 0.3125f, -0.05f, client::kButtonSprint}});
}

std::vector<std::uint8_t> typical_place() {
  return encode(ClientMessage{client::Place{{-4400, 190, 12345}, 12, 0x7FFFFFF, {0, 1, 0}, std::nullopt, {}}});
}

void decode_and_validate(benchmark::State& state, std::vector<std::uint8_t> bytes) {
  for (auto _ : state) {
    auto m = decode_and_validate_client(bytes);
    benchmark::DoNotOptimize(m);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_DecodeValidatePlayerInput(benchmark::State& state) { decode_and_validate(state, typical_input()); }
BENCHMARK(BM_DecodeValidatePlayerInput);

void BM_DecodeValidatePlace(benchmark::State& state) { decode_and_validate(state, typical_place()); }
BENCHMARK(BM_DecodeValidatePlace);

// Varint-heavy records: entity despawns (u64 ids) and moves (chunk positions, ids).
std::vector<std::uint8_t> varint_heavy() {
  server::EntityDespawn gone;
  for (std::uint64_t i = 0; i < 20000; ++i) gone.ids.push_back(i * 0x9E3779B97F4A7C15ull >> (i % 50));
  const Frame frame = encode(gone);
  return {frame.payload().begin(), frame.payload().end()};
}

void BM_DecodeVarintHeavyRecord(benchmark::State& state) {
  auto bytes = varint_heavy();
  for (auto _ : state) {
    auto m = decode_server(bytes);
    benchmark::DoNotOptimize(m);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_DecodeVarintHeavyRecord);

void BM_DecodeEntityMoves(benchmark::State& state) {
  server::EntityMoves moves{77};
  for (std::uint32_t i = 0; i < 2000; ++i) {
    moves.moves.push_back(EntityDelta{i * 7919ull, {static_cast<std::int32_t>(i) - 1000, 4, -300},
                                      {1.5f, 2.5f, 3.5f}, {0.1f, 0.0f, -0.1f}, 12, -3, 1, {255, 128, 0}});
  }
  const Frame frame = encode(moves);
  const std::vector<std::uint8_t> bytes(frame.payload().begin(), frame.payload().end());
  for (auto _ : state) {
    auto m = decode_server(bytes);
    benchmark::DoNotOptimize(m);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_DecodeEntityMoves);

}  // namespace
