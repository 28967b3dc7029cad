#pragma once
// A typical generator for the pool tests and the benchmarks: noise ground, a cell-detail layer
// and blocks placed with math.random. It makes the same chunk in every engine only when the
// noise, the fills and the seeded draws agree.

namespace ostrel_server::worldgen::test {

inline constexpr const char* kTerrainMod = R"(
local stone = game.register_block({id = 'stone'})
local dirt = game.register_block({id = 'dirt'})
local shelf = game.density({op = 'sub', a = {op = 'const', value = 3.5}, b = {op = 'y'}})
game.register_on_generate(function(buf, pos)
  buf:fill_below_heightmap(game.noise_heightmap(pos, {amplitude = 12, base = 4}), stone)
  buf:fill_density(shelf, dirt, {detail = 'smooth'})
  for i = 1, 24 do
    buf:set_block(math.random(0, 15), math.random(0, 15), math.random(0, 15), dirt)
  end
end)
)";

}  // namespace ostrel_server::worldgen::test
