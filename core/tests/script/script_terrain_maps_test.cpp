// game.map and the map handle; heightmaps from maps, noise and flat heights.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "script/terrain_lua.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

using test::run;

// The samples of the map handle in global `name` of `mod`, copied under its lock.
std::vector<float> samples_of(LuaVm& vm, std::string_view mod, const char* name) {
  const auto* h = test::handle<MapHandle>(vm, mod, name);
  if (h == nullptr) return {};
  auto map = h->locked();
  return map ? (*map)->samples : std::vector<float>{};
}

std::array<std::int32_t, 256> heights_of(LuaVm& vm, std::string_view mod, const char* name) {
  const auto* h = test::handle<Heightmap>(vm, mod, name);
  return h == nullptr ? std::array<std::int32_t, 256>{} : h->heights;
}

std::array<std::int32_t, 256> all(std::int32_t h) {
  std::array<std::int32_t, 256> a;
  a.fill(h);
  return a;
}

TEST(MapScript, FetchingAndGeometry) {
  struct Case {
    const char* name;
    const char* code;
    const char* want;
  };
  const Case cases[] = {
      {"defaults", "local m = game.map({name = 'h'}) return m:side() .. ' ' .. m:scale()", "256 16"},
      {"side 0", "return game.map({name = 'h', side = 0})",
       "error: a map may be 1 to 1024 samples a side, not 0"},
      {"side 1025", "return game.map({name = 'h', side = 1025})",
       "error: a map may be 1 to 1024 samples a side, not 1025"},
      {"side text", "return game.map({name = 'h', side = 'x'}):side()", "256"},
      {"side -1", "return game.map({name = 'h', side = -1}):side()", "256"},
      {"scale -3", "return game.map({name = 'h', scale = -3}):scale()", "16"},
      {"scale 0", "return game.map({name = 'h', scale = 0})",
       "error: a map's scale must be at least one block a sample"},
      {"no name", "return game.map({side = 4})", "error: game.map: missing required field `name`"},
      {"name a table", "return game.map({name = {}})", "error: game.map: missing required field `name`"},
      {"not a table", "return game.map('h')", "error: bad argument #1 to 'map' (expected table, got string)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto vm = test::make_engine();
    EXPECT_EQ(run(vm, "m", c.code), c.want);
  }
  // Without origins, sample (0, 0) stands at world block (0, 0).
  auto vm = test::make_engine();
  ASSERT_EQ(run(vm, "m", "d = game.map({name = 'h', side = 2, scale = 3}) return 1"), "1");
  const auto* h = test::handle<MapHandle>(vm, "m", "d");
  ASSERT_NE(h, nullptr);
  auto map = h->locked();
  ASSERT_TRUE(map);
  EXPECT_EQ((*map)->origin_x, 0);
  EXPECT_EQ((*map)->origin_z, 0);
}

TEST(MapScript, OneNameSharesAMapAnotherGeometryReplacesIt) {
  auto vm = test::make_engine();
  ASSERT_EQ(run(vm, "m",
                "a = game.map({name = 'h', side = 4, scale = 2, origin_x = -8}) "
                "b = game.map({name = 'h', side = 4, scale = 2, origin_x = -8}) "
                "a:offset(1.5) return b:heightmap({x = 0, z = 0}):len()"),
            "256");
  EXPECT_EQ(samples_of(vm, "m", "b"), std::vector<float>(16, 1.5f));
  // Another side: a blank map under the name; the old handles keep the old samples.
  ASSERT_EQ(run(vm, "m", "c = game.map({name = 'h', side = 8, scale = 2, origin_x = -8}) return c:side()"),
            "8");
  EXPECT_EQ(samples_of(vm, "m", "c"), std::vector<float>(64, 0.0f));
  EXPECT_EQ(samples_of(vm, "m", "a"), std::vector<float>(16, 1.5f));
  // The first geometry again: another fresh map, not the first one.
  ASSERT_EQ(run(vm, "m", "d = game.map({name = 'h', side = 4, scale = 2, origin_x = -8}) return 1"), "1");
  EXPECT_EQ(samples_of(vm, "m", "d"), std::vector<float>(16, 0.0f));
  // Two mods, one name: two maps.
  ASSERT_EQ(
      run(vm, "n", "e = game.map({name = 'h', side = 4, scale = 2, origin_x = -8}) e:offset(7) return 1"),
      "1");
  EXPECT_EQ(samples_of(vm, "m", "d"), std::vector<float>(16, 0.0f));
  EXPECT_EQ(samples_of(vm, "n", "e"), std::vector<float>(16, 7.0f));
}

TEST(MapScript, CombineRefusalsAndWays) {
  auto vm = test::make_engine();
  ASSERT_EQ(run(vm, "m",
                "a = game.map({name = 'a', side = 2}) b = game.map({name = 'b', side = 2}) "
                "a:offset(3) b:offset(-1) return 1"),
            "1");
  EXPECT_EQ(run(vm, "m", "a:combine(b, 'sum')"),
            "error: `sum` is not a way to combine two maps. The list is: add, mul, min, max.");
  // The way is read before `other`, which is not even a map here.
  EXPECT_EQ(run(vm, "m", "a:combine(5, 'ADD')"),
            "error: `ADD` is not a way to combine two maps. The list is: add, mul, min, max.");
  EXPECT_EQ(run(vm, "m", "a:combine(5, 'add')"),
            "error: bad argument #2 to 'combine' (expected Ostrel.Map, got integer)");
  EXPECT_EQ(run(vm, "m", "a:combine(a, 'add')"),
            "error: a map cannot be combined with itself; use scale_by or offset");
  EXPECT_EQ(run(vm, "m", "a:combine(game.map({name = 'a', side = 2}), 'add')"),
            "error: a map cannot be combined with itself; use scale_by or offset");
  EXPECT_EQ(run(vm, "m", "a:combine(game.map({name = 'c', side = 3}), 'add')"),
            "error: maps must match to combine: 2 x 2 against 3 x 3");
  EXPECT_EQ(samples_of(vm, "m", "a"), std::vector<float>(4, 3.0f));
  ASSERT_EQ(run(vm, "m",
                "a:combine(b, 'mul') a:combine(game.map({name = 'd', side = 2, scale = 9}), 'max') return 1"),
            "1");
  EXPECT_EQ(samples_of(vm, "m", "a"), std::vector<float>(4, 0.0f));
}

TEST(MapScript, BlurAndClamp) {
  auto vm = test::make_engine();
  ASSERT_EQ(run(vm, "m", "a = game.map({name = 'a', side = 8}) a:offset(2) a:blur(7) return 1"), "1");
  EXPECT_EQ(run(vm, "m", "a:blur(8)"), "error: a blur radius of 8 is wider than a map 8 samples across");
  EXPECT_EQ(run(vm, "m", "a:blur(-1)"),
            "error: bad argument #2 to 'blur' (-1 is out of range for an unsigned 32-bit integer)");
  EXPECT_EQ(samples_of(vm, "m", "a"), std::vector<float>(64, 2.0f));
  EXPECT_EQ(run(vm, "m", "a:clamp(1, 0)"), "error: min > max, or either was NaN. min = 1, max = 0");
  EXPECT_EQ(run(vm, "m", "a:clamp(0/0, 5)"), "error: min > max, or either was NaN. min = NaN, max = 5");
  // Refused clamps leave the map as it was and usable.
  EXPECT_EQ(samples_of(vm, "m", "a"), std::vector<float>(64, 2.0f));
  EXPECT_EQ(run(vm, "m", "a:clamp(1, 1) return a:side()"), "8");
  EXPECT_EQ(samples_of(vm, "m", "a"), std::vector<float>(64, 1.0f));
  // A NaN sample stays NaN through a clamp.
  ASSERT_EQ(run(vm, "m", "a:offset(0/0) a:clamp(0, 1) return 1"), "1");
  for (float v : samples_of(vm, "m", "a")) EXPECT_TRUE(std::isnan(v));
}

TEST(MapScript, HeightmapsOfAMap) {
  auto vm = test::make_engine();
  // Scale 1 at the origin, sample (c, r) = c + 1000 r: chunk (1, -1) reads x 16..31 and, for
  // every z of -16..-1, row 0.
  ASSERT_EQ(run(vm, "m", "m = game.map({name = 'r', side = 64, scale = 1}) return 1"), "1");
  {
    auto* h = test::handle<MapHandle>(vm, "m", "m");
    auto map = h->locked();
    ASSERT_TRUE(map);
    for (std::size_t k = 0; k < 64 * 64; ++k)
      (*map)->samples[k] = static_cast<float>(k % 64 + 1000 * (k / 64));
  }
  ASSERT_EQ(run(vm, "m", "h = m:heightmap({x = 1, z = -1}) return h:len()"), "256");
  const auto h = heights_of(vm, "m", "h");
  for (int r = 0; r < 16; ++r) {
    for (int c = 0; c < 16; ++c) EXPECT_EQ(h[c + 16 * r], 16 + c) << c << " " << r;
  }
  EXPECT_EQ(run(vm, "m", "return m:heightmap({x = 1})"),
            "error: heightmap: bad field `z` (expected integer, got nil)");
  // A map's -2.5 floors to -3; NaN samples give 0.
  ASSERT_EQ(run(vm, "m",
                "n = game.map({name = 'n', side = 2}) n:offset(-2.5) f = n:heightmap({x = 5, z = 5}) "
                "n:offset(0/0) g = n:heightmap({x = 0, z = 0}) return 1"),
            "1");
  EXPECT_EQ(heights_of(vm, "m", "f")[17], -3);
  EXPECT_EQ(heights_of(vm, "m", "g"), (std::array<std::int32_t, 256>{}));
}

TEST(MapScript, NoiseAndFill) {
  auto vm = test::make_engine();
  ASSERT_EQ(run(vm, "m",
                "a = game.map({name = 'a', side = 16, scale = 4, origin_x = -32, origin_z = 8}) "
                "a:noise({octaves = 3, frequency = 0.05, amplitude = 2.5, seed = -1}) "
                "b = game.map({name = 'b', side = 16, scale = 4, origin_x = -32, origin_z = 8}) "
                "b:fill(game.density({op = 'sub', a = {op = 'x'}, b = {op = 'y'}}), {y = 10}) "
                "c = game.map({name = 'c', side = 16, scale = 4, origin_x = -32, origin_z = 8}) "
                "c:fill(game.density({op = 'y'})) return 1"),
            "1");
  auto want = *detgen::map::Map::create(16, 4, -32, 8);
  want.noise(~std::uint64_t{0}, {3, 0.05f, 2.0f, 0.5f, detgen::noise::Shaping::Plain}, 2.5f);
  EXPECT_EQ(samples_of(vm, "m", "a"), want.samples);
  const auto b = samples_of(vm, "m", "b");
  ASSERT_EQ(b.size(), 256u);
  EXPECT_EQ(b[0], -32.0f - 10.0f);
  EXPECT_EQ(b[16 * 3 + 5], -32.0f + 4 * 5 - 10.0f);
  EXPECT_EQ(samples_of(vm, "m", "c"), std::vector<float>(256, 0.0f));  // y = 0 without options
  EXPECT_EQ(run(vm, "m", "a:fill(a)"), "error: map:fill wants a density, from game.density");
  EXPECT_EQ(run(vm, "m", "a:noise({seed = 0.5})"), "error: a seed must be a whole number, not 0.5");
}

TEST(MapScript, SnapshotsOfProgramsStayAsCompiled) {
  auto vm = test::make_engine();
  ASSERT_EQ(run(vm, "m",
                "m = game.map({name = 'm', side = 4, scale = 1}) m:offset(2) "
                "before = game.density({op = 'map', map = m}) m:offset(1) "
                "after = game.density({op = 'map', map = m}) "
                "return before:at(1, 0, 1, 0) .. ' ' .. after:at(1, 0, 1, 0)"),
            "2.0 3.0");
  // An unchanged map shares one snapshot between programs.
  ASSERT_EQ(run(vm, "m", "again = game.density({op = 'map', map = m}) return 1"), "1");
  const auto& a = std::get<detgen::density::Op::MapLookup>(
      test::handle<DensityHandle>(vm, "m", "after")->program->ops()[0].v);
  const auto& b = std::get<detgen::density::Op::MapLookup>(
      test::handle<DensityHandle>(vm, "m", "again")->program->ops()[0].v);
  EXPECT_EQ(a.map.get(), b.map.get());
  // An infinity refuses the snapshot; the map stays usable.
  EXPECT_EQ(run(vm, "m", "m:offset(1/0) return game.density({op = 'map', map = m})"),
            "error: a `map` node's map holds no finite values to read");
  EXPECT_EQ(run(vm, "m", "return m:side()"), "4");
}

TEST(MapScript, SnapshotRangeFollowsTheSamples) {
  auto vm = test::make_engine();
  ASSERT_EQ(run(vm, "m", "m = game.map({name = 'm', side = 3}) return 1"), "1");
  const auto* h = test::handle<MapHandle>(vm, "m", "m");
  ASSERT_NE(h, nullptr);
  const auto fresh = h->snapshot();
  ASSERT_TRUE(fresh) << fresh.error();
  EXPECT_EQ(fresh->low, 0.0f);
  EXPECT_EQ(fresh->high, 0.0f);
  // Unchanged: the same copy. Changed: a new one with the new range.
  EXPECT_EQ(h->snapshot()->map.get(), fresh->map.get());
  {
    auto map = h->locked();
    ASSERT_TRUE(map);
    (*map)->samples[4] = -2.5f;
    (*map)->samples[7] = 9.0f;
    ++(*map)->revision;
  }
  const auto changed = h->snapshot();
  ASSERT_TRUE(changed);
  EXPECT_NE(changed->map.get(), fresh->map.get());
  EXPECT_EQ(changed->low, -2.5f);
  EXPECT_EQ(changed->high, 9.0f);
  EXPECT_EQ(fresh->map->samples[4], 0.0f);  // the old copy is untouched
  {
    auto map = h->locked();
    ASSERT_TRUE(map);
    (*map)->samples[0] = -std::numeric_limits<float>::infinity();
    ++(*map)->revision;
  }
  EXPECT_EQ(h->snapshot().error(), "a `map` node's map holds no finite values to read");
}

TEST(MapScript, AnInternalFailurePoisonsTheMapForGood) {
  auto vm = test::make_engine();
  ASSERT_EQ(
      run(vm, "m", "m = game.map({name = 'm', side = 4}) other = game.map({name = 'm', side = 4}) return 1"),
      "1");
  // An exception unwinding through the map's lock, as a failed allocation inside an operation would.
  {
    auto* h = test::handle<MapHandle>(vm, "m", "m");
    try {
      auto map = h->locked();
      ASSERT_TRUE(map);
      throw std::runtime_error("injected");
    } catch (const std::runtime_error&) {
    }
  }
  for (const char* code :
       {"return m:side()", "m:offset(1)", "return other:scale()", "return game.map({name = 'm', side = 4})",
        "return game.density({op = 'map', map = m})"}) {
    SCOPED_TRACE(code);
    EXPECT_EQ(run(vm, "m", code), "error: this map was poisoned by an earlier error");
  }
  // The name stays poisoned, whatever geometry is asked; other names are untouched.
  EXPECT_EQ(run(vm, "m", "return game.map({name = 'm', side = 5})"),
            "error: this map was poisoned by an earlier error");
  EXPECT_EQ(run(vm, "m", "return game.map({name = 'n', side = 5}):side()"), "5");
}

TEST(HeightmapScript, NoiseAndFlatHeights) {
  auto vm = test::make_engine();
  ASSERT_EQ(
      run(vm, "m",
          "flat = game.flat_heightmap(-10) zero = game.noise_heightmap({x = 3, y = 9, z = -2, seed = 4}, "
          "{amplitude = 0, base = 17}) plain = game.noise_heightmap({x = 3, y = 0, z = -2}, {octaves = -1}) "
          "text = game.noise_heightmap({x = 3, y = 5, z = -2, seed = 0}, {octaves = 'x'}) return flat:len()"),
      "256");
  EXPECT_EQ(heights_of(vm, "m", "flat"), all(-10));
  EXPECT_EQ(heights_of(vm, "m", "zero"), all(17));
  // Octaves -1 and "x" fall back to 4; stacked chunks (other y) and an absent seed agree.
  EXPECT_EQ(heights_of(vm, "m", "plain"), heights_of(vm, "m", "text"));
  float noise[256];
  ASSERT_TRUE(detgen::noise::fill_2d(0, {16, 16, 48.0f, -32.0f, 1.0f, 1.0f}, {}, noise));
  for (std::size_t k = 0; k < 256; ++k) {
    EXPECT_EQ(heights_of(vm, "m", "plain")[k], static_cast<std::int32_t>(std::trunc(noise[k] * 6.0f)));
  }
  EXPECT_EQ(run(vm, "m", "return game.noise_heightmap({x = 0, z = 0}, {})"),
            "error: noise_heightmap: bad field `y` (expected integer, got nil)");
  EXPECT_EQ(run(vm, "m", "return game.flat_heightmap()"),
            "error: bad argument #1 to 'flat_heightmap' (expected integer, got nil)");
}

TEST(HeightmapScript, NoiseHeightsTruncateTowardZero) {
  // Find columns whose noise times some amplitude is exactly -2.5 and -0.5.
  float noise[256];
  ASSERT_TRUE(detgen::noise::fill_2d(9, {16, 16, 160.0f, 320.0f, 1.0f, 1.0f}, {}, noise));
  auto column_for = [&](float product) -> std::pair<int, float> {
    for (int k = 0; k < 256; ++k) {
      const float amp = product / noise[k];
      if (noise[k] != 0.0f && noise[k] * amp == product) return {k, amp};
    }
    return {-1, 0.0f};
  };
  const auto [k1, a1] = column_for(-2.5f);
  const auto [k2, a2] = column_for(-0.5f);
  ASSERT_GE(k1, 0);
  ASSERT_GE(k2, 0);
  auto vm = test::make_engine();
  ASSERT_EQ(
      run(vm, "m",
          fmt::format("a = game.noise_heightmap({{x = 10, y = 0, z = 20, seed = 9}}, {{amplitude = {:.9g}}}) "
                      "b = game.noise_heightmap({{x = 10, y = 0, z = 20, seed = 9}}, {{amplitude = {:.9g}, "
                      "base = 10}}) return 1",
                      a1, a2)),
      "1");
  EXPECT_EQ(heights_of(vm, "m", "a")[k1], -2);
  EXPECT_EQ(heights_of(vm, "m", "b")[k2], 10);
}

}  // namespace
}  // namespace ostrel_core::script::lua_vm

namespace ostrel_core::script::lua_vm {
namespace {

// What handles keep natively counts against the engine's memory limit, and is given back when
// they are collected.
TEST(TerrainMemory, HandlesCountAgainstTheMemoryLimit) {
  auto vm = test::make_engine(48ull << 20);
  const std::uint64_t before = vm.memory_used();
  // Each 1024-sample map charges 8 MiB (its samples and one cached snapshot).
  EXPECT_EQ(
      run(vm, "m", "keep = {} for i = 1, 100 do keep[i] = game.map({name = 'm' .. i, side = 1024}) end"),
      "error: not enough memory");
  EXPECT_GT(vm.memory_used(), before + (32ull << 20));
  // Dropped and collected, the maps give their bytes back (the registry still holds the maps
  // by name, so clear those too).
  ASSERT_EQ(run(vm, "m", "keep = nil return 1"), "1");
  lua_State* L = vm.state();
  lua_newtable(L);
  lua_setfield(L, LUA_REGISTRYINDEX, "ostrel.maps");
  lua_gc(L, LUA_GCCOLLECT);
  EXPECT_LT(vm.memory_used(), before + (1ull << 20));
  EXPECT_EQ(run(vm, "m", "return game.map({name = 'again', side = 1024}):side()"), "1024");
}

}  // namespace
}  // namespace ostrel_core::script::lua_vm
