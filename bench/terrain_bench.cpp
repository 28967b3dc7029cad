// Script terrain figures: compiling a 100-node density tree with game.density; noise, blur
// (radius 8) and combine on a 1024 x 1024 map through its handle; cutting a trunk with a dozen
// leaf clumps, natively and through game.schematic_shapes.

#include <benchmark/benchmark.h>

#include <lua5.4/lua.hpp>
#include <string>
#include <vector>

#include "detgen/shapes.hpp"
#include "script/lua_vm/lua_vm.hpp"

namespace {

using ostrel_core::script::lua_vm::LuaVm;

// An engine with one mod `m` whose init.lua ran `setup`; `call` is then run as a function per
// iteration in the mod's environment.
class Scripted {
 public:
  Scripted(const std::string& setup, const std::string& call)
      : vm_(*LuaVm::create(256ull << 20, 20'000'000)) {
    if (!vm_.load_mod("m", setup, "mods/m")) std::abort();
    lua_State* L = vm_.state();
    vm_.push_environment("m");
    const std::string code = "return function() " + call + " end";
    if (luaL_loadbuffer(L, code.data(), code.size(), "=bench") != LUA_OK) std::abort();
    lua_pushvalue(L, -2);
    lua_setupvalue(L, -2, 1);
    if (lua_pcall(L, 0, 1, 0) != LUA_OK) std::abort();
    fn_ = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_pop(L, 1);
  }
  void run() {
    lua_State* L = vm_.state();
    lua_rawgeti(L, LUA_REGISTRYINDEX, fn_);
    if (lua_pcall(L, 0, 0, 0) != LUA_OK) std::abort();
  }

 private:
  LuaVm vm_;
  int fn_ = LUA_NOREF;
};

// A tree of 100 nodes: noise leaves mixed with coordinates and arithmetic.
constexpr const char* kTree = R"(
  local function build(n, i)
    if n == 1 then
      if i % 3 == 0 then return {op = 'noise', stream = 's' .. i, octaves = 3, stretch = {y = 2}} end
      if i % 3 == 1 then return {op = 'y'} end
      return {op = 'const', value = i}
    end
    local h = n // 2
    local ops = {'add', 'sub', 'mul', 'min', 'max'}
    return {op = ops[n % 5 + 1], a = build(h, i), b = build(n - h, i + h)}
  end
  tree = build(50, 0)  -- 50 leaves and 49 operators
  tree = {op = 'abs', a = tree}
)";

void BM_CompileDensity100Nodes(benchmark::State& state) {
  Scripted s(kTree, "game.density(tree)");
  for (auto _ : state) s.run();
}
BENCHMARK(BM_CompileDensity100Nodes)->Unit(benchmark::kMicrosecond);

constexpr const char* kMaps = R"(
  a = game.map({name = 'a', side = 1024, scale = 4})
  b = game.map({name = 'b', side = 1024, scale = 4})
  b:noise({seed = 2})
)";

void BM_MapHandleNoise1024(benchmark::State& state) {
  Scripted s(kMaps, "a:noise({seed = 1, amplitude = 30})");
  for (auto _ : state) s.run();
}
BENCHMARK(BM_MapHandleNoise1024)->Unit(benchmark::kMillisecond);

void BM_MapHandleBlurRadius8_1024(benchmark::State& state) {
  Scripted s(kMaps, "a:blur(8)");
  for (auto _ : state) s.run();
}
BENCHMARK(BM_MapHandleBlurRadius8_1024)->Unit(benchmark::kMillisecond);

void BM_MapHandleCombine1024(benchmark::State& state) {
  Scripted s(kMaps, "a:combine(b, 'max')");
  for (auto _ : state) s.run();
}
BENCHMARK(BM_MapHandleCombine1024)->Unit(benchmark::kMillisecond);

constexpr const char* kTreeShapes = R"(
  shapes = {{kind = 'path', material = 2, priority = 1, points = {{0.5, 0, 0.5, 0.45}, {0.6, 8, 0.5, 0.3}}}}
  for i = 1, 12 do
    shapes[#shapes + 1] = {kind = 'ellipsoid', material = 3, rough = 0.3,
                           centre = {0.5 + 2.5 * (i % 3 - 1), 6 + i * 0.3, 0.5 + 2 * ((i // 3) % 3 - 1)},
                           radii = {1.8, 1.3, 1.8}}
  end
)";

void BM_SchematicShapesTrunkAndTwelveClumps(benchmark::State& state) {
  Scripted s(kTreeShapes, "game.schematic_shapes(shapes)");
  for (auto _ : state) s.run();
}
BENCHMARK(BM_SchematicShapesTrunkAndTwelveClumps)->Unit(benchmark::kMicrosecond);

void BM_RasteriseTrunkAndTwelveClumps(benchmark::State& state) {
  using namespace ostrel_core::detgen::shapes;
  std::vector<Shape> shapes;
  shapes.push_back({Path{{{{0.5, 0, 0.5, 0.45}}, {{0.6, 8, 0.5, 0.3}}}, 0}, 2, 1});
  for (int i = 1; i <= 12; ++i) {
    shapes.push_back(
        {Ellipsoid{
             {0.5 + 2.5 * (i % 3 - 1), 6 + i * 0.3, 0.5 + 2.0 * ((i / 3) % 3 - 1)}, {1.8, 1.3, 1.8}, 0.3},
         3, 0});
  }
  for (auto _ : state) benchmark::DoNotOptimize(rasterise(shapes));
}
BENCHMARK(BM_RasteriseTrunkAndTwelveClumps)->Unit(benchmark::kMicrosecond);

}  // namespace
