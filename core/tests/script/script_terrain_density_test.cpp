// game.density and the density handle: node reading, its refusals, and len, at and bounds.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "script/terrain_lua.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

using detgen::density::Op;
using test::run;

constexpr const char* kUnknownOp =
    "`{}` is not a density operation. The list is: const, x, y, z, noise, abs, clamp, add, sub, mul, div, "
    "min, max — and it is short on purpose, because every one of them has to be in the deterministic "
    "float subset.";
constexpr const char* kBoundsText =
    "error: density:bounds wants the `pos` your generator was handed — it carries the world seed, and a "
    "bound over a box cannot be computed without it";

std::string unknown(std::string_view op) {
  std::string t = kUnknownOp;
  return "error: " + t.replace(t.find("{}"), 2, op);
}

// A chain of `n` abs nodes around an x node, `n + 1` levels deep.
std::string abs_chain(int n) {
  return "local t = {op = 'x'} for i = 1, " + std::to_string(n) + " do t = {op = 'abs', a = t} end ";
}

TEST(DensityScript, OperationsInPostOrder) {
  auto vm = test::make_engine();
  EXPECT_EQ(run(vm, "m", "d = game.density({op = 'y'}) return d:len()"), "1");
  ASSERT_EQ(
      run(vm, "m",
          "d = game.density({op = 'sub', a = {op = 'const', value = 3}, b = {op = 'y'}}) return d:len()"),
      "3");
  const auto* d = test::handle<DensityHandle>(vm, "m", "d");
  ASSERT_NE(d, nullptr);
  const auto ops = d->program->ops();
  EXPECT_TRUE(std::holds_alternative<Op::Const>(ops[0].v));
  EXPECT_EQ(std::get<Op::Coord>(ops[1].v).axis, 1);
  EXPECT_TRUE(std::holds_alternative<Op::Sub>(ops[2].v));
}

TEST(DensityScript, Refusals) {
  struct Case {
    const char* name;
    std::string code;
    std::string want;
  };
  const Case cases[] = {
      {"65 levels", abs_chain(64) + "return game.density(t):len()", "65"},
      {"66 levels", abs_chain(65) + "return game.density(t)",
       "error: a density table may not nest more than 64 deep"},
      {"no op", "return game.density({a = 1})", "error: every node in a density table needs an `op` field"},
      {"op a table", "return game.density({op = {}})",
       "error: every node in a density table needs an `op` field"},
      {"op a number", "return game.density({op = 5})", unknown("5")},
      {"unknown op", "return game.density({op = 'sin'})", unknown("sin")},
      {"missing b", "return game.density({op = 'add', a = {op = 'x'}})",
       "error: a `add` node needs a `b` field"},
      {"a not a table", "return game.density({op = 'sub', a = 3, b = {op = 'x'}})",
       "error: a `sub` node needs a `a` field"},
      {"stretch number", "return game.density({op = 'noise', stretch = 2})",
       "error: a noise node's `stretch` is a table: { x = 1, y = 4, z = 1 }"},
      {"stretch component", "return game.density({op = 'noise', stretch = {y = 'tall'}})",
       "error: a noise node's `stretch.y` is a number"},
      {"noise2 stretch", "return game.density({op = 'noise2', stretch = {y = 4}})",
       "error: a `noise2` node takes no `stretch`; stretch is a `noise` option"},
      {"noise2 unit stretch", "return game.density({op = 'noise2', stretch = {x = 1, y = 1, z = 1}}):len()",
       "1"},
      {"contour stretch", "return game.density({op = 'contour', stretch = {x = 2}})",
       "error: a `contour` node takes no `stretch`; stretch is a `noise` option"},
      {"map a number", "return game.density({op = 'map', map = 5})",
       "error: a `map` node needs a `map` field holding a map"},
      {"map missing", "return game.density({op = 'map'})",
       "error: a `map` node needs a `map` field holding a map"},
      {"map a density", "return game.density({op = 'map', map = game.density({op = 'x'})})",
       "error: a `map` node's `map` field is not a map"},
      {"const without value", "return game.density({op = 'const'})",
       "error: density: bad field `value` (expected number, got nil)"},
      {"zero stretch", "return game.density({op = 'noise', stretch = {z = 0}})",
       "error: a noise stretch must be greater than zero, not 0"},
      {"infinite constant", "return game.density({op = 'const', value = math.huge})",
       "error: a density program may not contain a constant, which is not a finite number"},
      {"not a table", "return game.density(5)",
       "error: bad argument #1 to 'density' (expected table, got integer)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto vm = test::make_engine();
    EXPECT_EQ(run(vm, "m", c.code), c.want);
  }
}

TEST(DensityScript, BufferAndOperationLimits) {
  auto vm = test::make_engine();
  // Seventeen values on the stack at once: a right-leaning chain of adds.
  const std::string deep =
      "local t = {op = 'x'} for i = 1, 16 do t = {op = 'add', a = {op = 'y'}, b = t} end ";
  EXPECT_EQ(run(vm, "m", deep + "return game.density(t)"),
            "error: a density program may use at most 16 buffers at once, not 17");
  // 4096 operations: a balanced add tree of 2048 leaves (4095 operations, 12 levels), one abs.
  const std::string tree =
      "local function build(n) if n == 1 then return {op = 'x'} end "
      "local h = n // 2 return {op = 'add', a = build(h), b = build(n - h)} end ";
  EXPECT_EQ(run(vm, "m", tree + "return game.density({op = 'abs', a = build(2048)}):len()"), "4096");
  EXPECT_EQ(run(vm, "m", tree + "return game.density({op = 'abs', a = {op = 'abs', a = build(2048)}})"),
            "error: a density program may hold at most 4096 operations, not 4097");
}

TEST(DensityScript, SharedSubtreeBombFailsAtOnce) {
  auto vm = test::make_engine();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(
      run(vm, "m",
          "local t = {op = 'x'} for i = 1, 40 do t = {op = 'add', a = t, b = t} end return game.density(t)"),
      "error: a density program may hold at most 4096 operations, not 4097");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST(DensityScript, OptionsThatDoNotConvertTakeTheirDefaults) {
  auto vm = test::make_engine();
  ASSERT_EQ(
      run(vm, "m",
          "a = game.density({op = 'noise', octaves = 'many', frequency = {}, stream = {}, amplitude = 'x', "
          "stretch = {y = 4}}) "
          "c = game.density({op = 'clamp', a = {op = 'x'}, low = 'no'}) return 1"),
      "1");
  const auto& n = std::get<Op::Noise>(test::handle<DensityHandle>(vm, "m", "a")->program->ops()[0].v);
  EXPECT_EQ(n.options.octaves, 4u);
  EXPECT_EQ(n.options.frequency, 0.02f);
  EXPECT_EQ(n.amplitude, 1.0f);
  EXPECT_EQ(n.stream, detgen::rng::fnv1a64("default"));
  EXPECT_EQ(n.stretch, (std::array<float, 3>{1.0f, 4.0f, 1.0f}));
  const auto& cl = std::get<Op::Clamp>(test::handle<DensityHandle>(vm, "m", "c")->program->ops()[1].v);
  EXPECT_EQ(cl.low, -1.0f);
  EXPECT_EQ(cl.high, 1.0f);
}

TEST(DensityScript, AtReadsTheSeedAsBits) {
  auto vm = test::make_engine();
  ASSERT_EQ(
      run(vm, "m",
          "d = game.density({op = 'sub', a = {op = 'noise', stream = 'hills', octaves = 3}, b = {op = 'y'}}) "
          "return 1"),
      "1");
  EXPECT_EQ(run(vm, "m", "return d:at(0, 0, 0, 1.5)"), "error: a seed must be a whole number, not 1.5");
  EXPECT_EQ(run(vm, "m", "return d:at(0, 0, 0, nil)"), "error: a seed must be an integer, not nil");
  EXPECT_EQ(run(vm, "m", "return d:at(0, 0, 0, '7')"), "error: a seed must be an integer, not string");
  // -1 is the seed 2^64 - 1; at y = 0 the field is the noise itself.
  const auto* d = test::handle<DensityHandle>(vm, "m", "d");
  float want[1];
  detgen::density::Scratch scratch;
  ASSERT_TRUE(
      d->program->evaluate_with(~std::uint64_t{0}, {1, 1, 1, 12.5f, 0.0f, -40.0f, 1.0f}, want, scratch));
  EXPECT_EQ(run(vm, "m", "return string.format('%.9g', d:at(12.5, 0, -40, -1))"),
            fmt::format("{:.9g}", want[0]));
  std::vector<float> noise(1);
  const auto& n = std::get<Op::Noise>(d->program->ops()[0].v);
  ASSERT_TRUE(detgen::noise::fill_3d(~std::uint64_t{0} ^ n.stream, {1, 1, 1, 12.5f, 0.0f, -40.0f, 1.0f},
                                     n.options, noise));
  EXPECT_EQ(want[0], noise[0]);
}

TEST(DensityScript, BoundsOfAChunk) {
  auto vm = test::make_engine();
  ASSERT_EQ(run(vm, "m",
                "d = game.density({op = 'sub', a = {op = 'const', value = 64}, b = {op = 'y'}}) "
                "zero = game.density({op = 'const', value = 0}) "
                "neg = game.density({op = 'const', value = -1}) return 1"),
            "1");
  auto answer = [&](const char* program, const char* pos) {
    return run(vm, "m",
               fmt::format("local b = {}:bounds({}) return string.format('%.9g %.9g %s %s', b.low, b.high, "
                           "tostring(b.all_solid), tostring(b.all_empty))",
                           program, pos));
  };
  EXPECT_EQ(answer("d", "{x = 0, y = 3, z = 0, seed = 0}"), "0.996092737 16.0039082 true false");
  EXPECT_EQ(answer("d", "{x = 7, y = 4, z = -2, seed = 5}"), "-15.0036631 0.00366310938 false false");
  EXPECT_EQ(answer("d", "{x = 0, y = 5, z = 0, seed = -1}"), "-31.0075703 -15.9924307 false true");
  // The constant 0 is neither: the padded bound straddles zero.
  EXPECT_EQ(answer("zero", "{x = 0, y = 0, z = 0, seed = 0}"), "-9.99999997e-07 9.99999997e-07 false false");
  EXPECT_EQ(run(vm, "m",
                "local b = neg:bounds({x = 3, y = 9, z = 1, seed = 0}) "
                "return tostring(b.all_solid) .. ' ' .. tostring(b.all_empty)"),
            "false true");
  EXPECT_EQ(run(vm, "m", "return d:bounds({x = 0, y = 0, z = 0})"), kBoundsText);
  EXPECT_EQ(run(vm, "m", "return d:bounds({x = 0, y = 0, z = 0, seed = 1.5})"), kBoundsText);
  EXPECT_EQ(run(vm, "m", "return d:bounds({x = 0, z = 0, seed = 1})"),
            "error: bounds: bad field `y` (expected integer, got nil)");
}

TEST(DensityScript, HandlesAreOpaque) {
  auto vm = test::make_engine();
  EXPECT_EQ(run(vm, "m", "return getmetatable(game.density({op = 'x'}))"), "Ostrel.Density");
  EXPECT_EQ(run(vm, "m", "local d = game.density({op = 'x'}) return pcall(setmetatable, d, {})"), "false");
  EXPECT_EQ(run(vm, "m", "local d = game.density({op = 'x'}) return d.len(5)"),
            "error: bad argument #1 to 'len' (expected Ostrel.Density, got integer)");
}

}  // namespace
}  // namespace ostrel_core::script::lua_vm
