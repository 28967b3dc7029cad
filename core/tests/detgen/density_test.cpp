#include "detgen/density.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "detgen/rng.hpp"
#include "support/alloc_count.hpp"

namespace ostrel_core::detgen::density {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::uint32_t bits(float v) { return std::bit_cast<std::uint32_t>(v); }

Density compile_ok(std::vector<Op> ops) {
  auto d = Density::compile(std::move(ops));
  EXPECT_TRUE(d) << (d ? "" : d.error().message());
  return std::move(*d);
}

std::vector<float> eval(const Density& d, const noise::Grid3& g, std::uint64_t seed = 0) {
  std::vector<float> out(noise::sample_count(g));
  Scratch scratch;
  auto r = d.evaluate_with(seed, g, out, scratch);
  EXPECT_TRUE(r);
  return out;
}

Op::Noise noise_op(std::uint64_t stream, float amplitude = 1.0f) {
  Op::Noise n;
  n.stream = stream;
  n.amplitude = amplitude;
  n.options = {3, 0.05f, 2.0f, 0.5f, noise::Shaping::Plain};
  return n;
}

noise::Grid3 chunk(std::int32_t cx, std::int32_t cy, std::int32_t cz) {
  return {16,
          16,
          16,
          16.0f * static_cast<float>(cx),
          16.0f * static_cast<float>(cy),
          16.0f * static_cast<float>(cz),
          1.0f};
}

// A list of n leaves reduced by n - 1 additions, whose stack peaks at `depth`.
std::vector<Op> deep(std::size_t depth) {
  std::vector<Op> ops;
  for (std::size_t i = 0; i < depth; ++i) ops.push_back(Op::Const{1.0f});
  for (std::size_t i = 1; i < depth; ++i) ops.push_back(Op::Add{});
  return ops;
}

TEST(DensityCompile, RefusalsInOrder) {
  auto noise_with_stretch = [](float s) {
    Op::Noise n = noise_op(1);
    n.stretch = {1.0f, s, 1.0f};
    return n;
  };
  Op::Noise2 nan_gain;
  nan_gain.options.gain = kNaN;
  Op::Contour wild;
  wild.options.frequency = kInf;  // contour values are not tested
  struct Case {
    const char* name;
    std::vector<Op> ops;
    const char* text;  // nullptr: compiles
  };
  const Case cases[] = {
      {"empty", {}, "a density program must have at least one operation"},
      {"4096 ops", std::vector<Op>(4096, Op::Abs{}), "operation 0 wanted 1 values and the stack held 0"},
      {"4097 ops", std::vector<Op>(4097, Op::Abs{}),
       "a density program may hold at most 4096 operations, not 4097"},
      {"lone add", {Op::Add{}}, "operation 0 wanted 2 values and the stack held 0"},
      {"two left", {Op::Const{1}, Op::Const{2}}, "a density program must leave exactly one value, not 2"},
      {"16 deep", deep(16), nullptr},
      {"17 deep", deep(17), "a density program may use at most 16 buffers at once, not 17"},
      {"inf constant",
       {Op::Const{kInf}},
       "a density program may not contain a constant, which is not a finite number"},
      {"NaN stretch",
       {noise_with_stretch(kNaN)},
       "a density program may not contain a noise stretch, which is not a finite number"},
      {"zero stretch", {noise_with_stretch(0.0f)}, "a noise stretch must be greater than zero, not 0"},
      {"negative stretch",
       {noise_with_stretch(-1.5f)},
       "a noise stretch must be greater than zero, not -1.5"},
      {"noise2 gain",
       {nan_gain},
       "a density program may not contain a noise gain, which is not a finite number"},
      {"clamp bound",
       {Op::Const{1}, Op::Clamp{0.0f, kInf}},
       "a density program may not contain a clamp bound, which is not a finite number"},
      {"contour frequency", {wild}, nullptr},
      {"reversed clamp", {Op::Const{1}, Op::Clamp{2.0f, -2.0f}}, nullptr},
      // The first failure met wins: a bad constant before a later underflow, a final depth
      // before the buffer count, an underflow before a bad stretch later on.
      {"constant before underflow",
       {Op::Const{kNaN}, Op::Add{}},
       "a density program may not contain a constant, which is not a finite number"},
      {"depth before buffers",
       [] {
         auto d = deep(17);
         d.push_back(Op::Const{1});
         return d;
       }(),
       "a density program must leave exactly one value, not 2"},
      {"underflow before stretch",
       {Op::Mul{}, noise_with_stretch(0.0f)},
       "operation 0 wanted 2 values and the stack held 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto d = Density::compile(c.ops);
    if (c.text == nullptr) {
      EXPECT_TRUE(d) << d.error().message();
    } else {
      ASSERT_FALSE(d);
      EXPECT_EQ(d.error().message(), c.text);
    }
  }
  // 4096 operations compile.
  std::vector<Op> longest{Op::Const{1}};
  for (int i = 1; i < 4096; ++i) longest.push_back(Op::Abs{});
  EXPECT_EQ(compile_ok(longest).len(), 4096u);
  EXPECT_EQ(compile_ok(deep(16)).depth(), 16u);
}

TEST(DensityBounds, WorkedExampleToTheBit) {
  const Density d = compile_ok({Op::Const{64}, Op::Coord{1}, Op::Sub{}});
  struct Case {
    std::int32_t cy;
    float low, high;
    bool solid, empty;
  };
  const Case cases[] = {
      {3, 0.99609274f, 16.003908f, true, false},
      {4, -15.003663f, 0.0036631094f, false, false},
      {5, -31.00757f, -15.992431f, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cy);
    const Interval b = d.bounds(0, chunk(0, c.cy, 0));
    EXPECT_EQ(bits(b.low), bits(c.low));
    EXPECT_EQ(bits(b.high), bits(c.high));
    EXPECT_EQ(b.low > 0.0f, c.solid);
    EXPECT_EQ(b.high <= 0.0f, c.empty);
  }
}

TEST(DensityBounds, ConstantsAndDivision) {
  const auto b1 = compile_ok({Op::Const{1}}).bounds(0, chunk(0, 0, 0));
  EXPECT_EQ(bits(b1.low), bits(0.99975485f));
  EXPECT_EQ(bits(b1.high), bits(1.0002451f));
  const auto b0 = compile_ok({Op::Const{0}}).bounds(0, chunk(0, 0, 0));
  EXPECT_EQ(b0.low, -1e-6f);
  EXPECT_EQ(b0.high, 1e-6f);
  EXPECT_FALSE(b0.low > 0.0f);
  EXPECT_FALSE(b0.high <= 0.0f);
  EXPECT_TRUE(compile_ok({Op::Const{-1}}).bounds(0, chunk(0, 0, 0)).high <= 0.0f);
  // Division by a field whose bound straddles zero is unbounded.
  const auto div = compile_ok({Op::Const{1}, Op::Coord{0}, Op::Div{}}).bounds(0, chunk(0, 0, 0));
  EXPECT_EQ(div.low, -kInf);
  EXPECT_EQ(div.high, kInf);
}

TEST(DensityBounds, ClampAbsAndReversedClamp) {
  // x over chunk 0 is 0..15.
  const auto clamped = compile_ok({Op::Coord{0}, Op::Clamp{2.0f, 5.0f}}).bounds(0, chunk(0, 0, 0));
  // Each side widens by 5 * 2^-12 + 1e-6.
  EXPECT_EQ(clamped.low, 2.0f - (5.0f * 0x1p-12f + 1e-6f));
  EXPECT_EQ(clamped.high, 5.0f + (5.0f * 0x1p-12f + 1e-6f));
  // |x - 7| over 0..15 is 0..8: the interval straddles zero.
  const auto abs = compile_ok({Op::Coord{0}, Op::Const{7}, Op::Sub{}, Op::Abs{}}).bounds(0, chunk(0, 0, 0));
  EXPECT_EQ(abs.low, 0.0f - (8.0f * 0x1p-12f + 1e-6f));
  EXPECT_EQ(abs.high, 8.0f + (8.0f * 0x1p-12f + 1e-6f));
  // 3..10 stays positive: low is the lesser magnitude.
  const auto pos = compile_ok({Op::Coord{0}, Op::Clamp{3, 10}, Op::Abs{}}).bounds(0, chunk(0, 0, 0));
  EXPECT_EQ(pos.low, 3.0f - (10.0f * 0x1p-12f + 1e-6f));
  // low > high: every sample becomes `high`, and the bound says so.
  const Density reversed = compile_ok({Op::Coord{0}, Op::Clamp{3.0f, -2.0f}});
  for (float v : eval(reversed, chunk(0, 0, 0))) ASSERT_EQ(v, -2.0f);
  const auto rb = reversed.bounds(0, chunk(0, 0, 0));
  EXPECT_LT(rb.low, -2.0f);
  EXPECT_GT(rb.high, -2.0f);
  EXPECT_NEAR(rb.high - rb.low, 2 * (2 * 0x1p-12f + 1e-6f), 1e-6);
}

TEST(DensityEvaluate, SpecialValuesThroughEveryOperation) {
  // inf = 1/0, NaN = 0/0; min and max let a NaN operand lose, abs and clamp keep NaN.
  const Op inf[] = {Op::Const{1}, Op::Const{0}, Op::Div{}};
  const Op nan[] = {Op::Const{0}, Op::Const{0}, Op::Div{}};
  auto with = [](std::initializer_list<std::span<const Op>> parts, Op last) {
    std::vector<Op> ops;
    for (auto p : parts) ops.insert(ops.end(), p.begin(), p.end());
    ops.push_back(std::move(last));
    return ops;
  };
  const Op two[] = {Op::Const{2}};
  const Op negzero[] = {Op::Const{-0.0f}};
  const Op zero[] = {Op::Const{0.0f}};
  struct Case {
    const char* name;
    std::vector<Op> ops;
    float want;
  };
  const Case cases[] = {
      {"min NaN 2", with({nan, two}, Op::Min{}), 2.0f},
      {"min 2 NaN", with({two, nan}, Op::Min{}), 2.0f},
      {"max NaN 2", with({nan, two}, Op::Max{}), 2.0f},
      {"min inf 2", with({inf, two}, Op::Min{}), 2.0f},
      {"max inf 2", with({inf, two}, Op::Max{}), kInf},
      {"min 0 -0", with({zero, negzero}, Op::Min{}), 0.0f},
      {"min -0 0", with({negzero, zero}, Op::Min{}), -0.0f},
      {"max -0 0", with({negzero, zero}, Op::Max{}), -0.0f},
      {"add NaN", with({nan, two}, Op::Add{}), kNaN},
      {"inf - inf", with({inf, inf}, Op::Sub{}), kNaN},
      {"0 * inf", with({zero, inf}, Op::Mul{}), kNaN},
      {"2 / -0", with({two, negzero}, Op::Div{}), -kInf},
      {"abs -0", with({negzero}, Op::Abs{}), 0.0f},
      {"abs NaN", with({nan}, Op::Abs{}), kNaN},
      {"clamp inf", with({inf}, Op::Clamp{-1, 1}), 1.0f},
      {"clamp NaN", with({nan}, Op::Clamp{-1, 1}), kNaN},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto out = eval(compile_ok(c.ops), {2, 1, 1, 0, 0, 0, 1});
    for (float v : out) {
      if (std::isnan(c.want)) {
        EXPECT_TRUE(std::isnan(v));
      } else {
        EXPECT_EQ(bits(v), bits(c.want));
      }
    }
  }
  // abs clears the sign bit of NaN too.
  const auto abs_nan = eval(compile_ok(with({nan}, Op::Abs{})), {1, 1, 1, 0, 0, 0, 1});
  EXPECT_EQ(bits(abs_nan[0]) >> 31, 0u);
}

TEST(DensityEvaluate, CoordinatesFollowTheGridOrder) {
  const noise::Grid3 g{3, 2, 2, -1.0f, 10.0f, 100.0f, 0.5f};
  const auto x = eval(compile_ok({Op::Coord{0}}), g);
  const auto y = eval(compile_ok({Op::Coord{1}}), g);
  const auto z = eval(compile_ok({Op::Coord{2}}), g);
  // Index (iz * ny + iy) * nx + ix.
  EXPECT_EQ(x[(1 * 2 + 1) * 3 + 2], 0.0f);
  EXPECT_EQ(y[(1 * 2 + 1) * 3 + 2], 10.5f);
  EXPECT_EQ(z[(1 * 2 + 1) * 3 + 2], 100.5f);
  EXPECT_EQ(x[1], -0.5f);
}

TEST(DensityEvaluate, BufferOneShortIsRefusedUntouched) {
  const Density d = compile_ok({Op::Coord{0}});
  std::vector<float> out(4095, 3.0f);
  Scratch scratch;
  const auto r = d.evaluate_with(0, chunk(0, 0, 0), out, scratch);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind, DensityErrorKind::Size);
  EXPECT_EQ(r.error().message(), "buffer holds 4095 samples but the region needs 4096");
  for (float v : out) ASSERT_EQ(v, 3.0f);
  // No samples: success into an empty buffer, even with a vast plane.
  std::vector<float> none;
  const std::size_t huge = std::size_t{1} << 40;
  EXPECT_TRUE(compile_ok({Op::Noise2{}}).evaluate_with(0, {huge, 0, huge, 0, 0, 0, 1}, none, scratch));
}

TEST(DensityEvaluate, NoiseSeedAmplitudeAndStretch) {
  const noise::Grid3 g{4, 4, 4, 3.0f, -9.0f, 17.0f, 2.0f};
  Op::Noise n = noise_op(0xABCDEF, 3.0f);
  n.stretch = {2.0f, 1.0f, 4.0f};
  const auto got = eval(compile_ok({n}), g, 0x1234);
  std::vector<float> want(64);
  const float s[3] = {2.0f, 1.0f, 4.0f};
  ASSERT_TRUE(noise::fill_3d_stretched(0x1234 ^ 0xABCDEF, g, n.options, s, want));
  for (std::size_t k = 0; k < 64; ++k) EXPECT_EQ(got[k], want[k] * 3.0f) << k;
  // An amplitude within 2^-23 of 1 is not applied.
  const auto near_one = eval(compile_ok({noise_op(5, 1.0f + 0x1p-23f)}), g, 9);
  ASSERT_TRUE(noise::fill_3d(9 ^ 5, g, noise_op(5).options, want));
  EXPECT_EQ(near_one, want);
}

TEST(DensityEvaluate, GroundNoiseAndContourAreTheSameAtEveryY) {
  Op::Noise2 n2;
  n2.stream = 42;
  n2.options = {4, 0.03f, 2.0f, 0.5f, noise::Shaping::Plain};
  Op::Contour contour;
  contour.stream = 42;
  contour.options = n2.options;
  contour.is_signed = true;
  const noise::Grid3 g{6, 5, 4, -33.0f, 70.0f, 12.0f, 1.0f};
  for (const auto& op : {Op(n2), Op(contour)}) {
    const auto out = eval(compile_ok({op}), g, 7);
    for (std::size_t iz = 0; iz < 4; ++iz) {
      for (std::size_t iy = 1; iy < 5; ++iy) {
        for (std::size_t ix = 0; ix < 6; ++ix) {
          ASSERT_EQ(bits(out[(iz * 5 + iy) * 6 + ix]), bits(out[(iz * 5) * 6 + ix]));
        }
      }
    }
  }
  // Noise2 agrees with Noise sampled on y = 0 (amplitude 1, no stretch).
  Op::Noise n3;
  n3.stream = 42;
  n3.options = n2.options;
  const auto flat = eval(compile_ok({n2}), {6, 1, 4, -33.0f, 0.0f, 12.0f, 1.0f}, 7);
  const auto solid = eval(compile_ok({n3}), {6, 1, 4, -33.0f, 0.0f, 12.0f, 1.0f}, 7);
  EXPECT_EQ(flat, solid);
}

TEST(DensityEvaluate, ContourIsTheCappedDistanceToTheZeroLine) {
  Op::Contour c;
  c.stream = 3;
  c.options = {2, 0.01f, 2.0f, 0.5f, noise::Shaping::Plain};
  const noise::Grid3 g{32, 1, 32, -100.0f, 0.0f, 50.0f, 3.0f};
  const auto dist = eval(compile_ok({c}), g, 1);
  c.is_signed = true;
  const auto signed_dist = eval(compile_ok({c}), g, 1);
  Op::Noise2 n;
  n.stream = 3;
  n.options = c.options;
  const auto field = eval(compile_ok({n}), g, 1);
  for (std::size_t k = 0; k < dist.size(); ++k) {
    ASSERT_GE(dist[k], 0.0f);
    ASSERT_LE(dist[k], 256.0f);
    ASSERT_EQ(signed_dist[k], field[k] < 0.0f ? -dist[k] : dist[k]);
  }
}

TEST(DensityMemo, PlansOfThePart) {
  const Op a = noise_op(1), b = noise_op(2);
  Op::Noise2 ground_a;
  ground_a.stream = 1;
  ground_a.options = noise_op(1).options;
  auto kinds = [](const MemoPlan& p) { return p.steps; };
  using K = MemoKind;
  const MemoPlan p1 = plan_memo(std::vector<Op>{a, a, Op::Add{}});
  EXPECT_EQ(kinds(p1), (std::vector<Memo>{{K::Store, 0}, {K::Reuse, 0}, {K::None, 0}}));
  EXPECT_EQ(p1.slots, 1u);
  const MemoPlan p2 = plan_memo(std::vector<Op>{a, b, Op::Add{}, a, Op::Add{}});
  EXPECT_EQ(kinds(p2),
            (std::vector<Memo>{{K::Store, 0}, {K::None, 0}, {K::None, 0}, {K::Reuse, 0}, {K::None, 0}}));
  EXPECT_EQ(p2.slots, 1u);
  const MemoPlan p3 = plan_memo(std::vector<Op>{a, a, a});
  EXPECT_EQ(kinds(p3), (std::vector<Memo>{{K::Store, 0}, {K::Reuse, 0}, {K::Reuse, 0}}));
  EXPECT_EQ(plan_memo(std::vector<Op>{a, b}).slots, 0u);
  // A noise and a noise2 of one stream and options never share; nor do other amplitudes.
  EXPECT_EQ(plan_memo(std::vector<Op>{a, ground_a}).slots, 0u);
  EXPECT_EQ(plan_memo(std::vector<Op>{a, noise_op(1, 2.0f)}).slots, 0u);
  // Bit for bit: -0 and +0 amplitudes differ.
  EXPECT_EQ(plan_memo(std::vector<Op>{noise_op(1, 0.0f), noise_op(1, -0.0f)}).slots, 0u);
  // Two pairs get slots in order of first use.
  const MemoPlan p4 = plan_memo(std::vector<Op>{b, a, a, b});
  EXPECT_EQ(kinds(p4), (std::vector<Memo>{{K::Store, 0}, {K::Store, 1}, {K::Reuse, 1}, {K::Reuse, 0}}));
}

TEST(DensityMemo, ReusedNoiseEqualsComputedNoise) {
  const Op a = noise_op(9, 2.0f);
  const Density twice = compile_ok({a, a, Op::Sub{}});
  EXPECT_EQ(twice.plan().slots, 1u);
  for (float v : eval(twice, chunk(1, -2, 3), 5)) ASSERT_EQ(v, 0.0f);
  const Density once = compile_ok({a, Op::Const{2}, Op::Mul{}});
  const Density sum = compile_ok({a, a, Op::Add{}});
  EXPECT_EQ(eval(sum, chunk(1, -2, 3), 5), eval(once, chunk(1, -2, 3), 5));
}

TEST(DensityMemo, SameProgramIsBitForBit) {
  auto m = std::make_shared<map::Map>(*map::Map::create(4, 1, 0, 0));
  auto copy = std::make_shared<map::Map>(*m);  // the same samples, another snapshot
  Op::Contour contour;
  contour.stream = 3;
  const std::vector<Op> base = {Op::Const{1.5f}, Op::Coord{1}, Op::Sub{}, noise_op(4), Op::Add{},
                                contour, Op::Max{}, map_lookup(m), Op::Min{}, Op::Clamp{-2.0f, 2.0f},
                                Op::Abs{}};
  const Density d = compile_ok(base);
  EXPECT_TRUE(d.same_program(compile_ok(base)));  // compiled apart from the same operations
  struct Case {
    const char* name;
    std::size_t at;  // the operation replaced
    Op with;
  };
  Op::Contour is_signed = contour;
  is_signed.is_signed = true;
  const Case cases[] = {
      {"-0 constant", 0, Op::Const{-0.0f}},   {"another axis", 1, Op::Coord{0}},
      {"add for sub", 2, Op::Add{}},          {"another stream", 3, noise_op(5)},
      {"another amplitude", 3, noise_op(4, 2.0f)}, {"signed contour", 5, is_signed},
      {"min for max", 6, Op::Min{}},          {"an equal map", 7, map_lookup(copy)},
      {"another bound", 9, Op::Clamp{-2.0f, 3.0f}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Op> ops = base;
    ops[c.at] = c.with;
    const Density other = compile_ok(ops);
    EXPECT_FALSE(d.same_program(other));
    EXPECT_FALSE(other.same_program(d));
  }
  // A program that is the other's start is not the same program.
  EXPECT_FALSE(d.same_program(compile_ok({Op::Const{1.5f}})));
  EXPECT_FALSE(compile_ok({Op::Const{1.5f}}).same_program(d));
}

TEST(DensityMap, LookupFloorsPositionsAndIgnoresY) {
  auto m = std::make_shared<map::Map>(*map::Map::create(4, 2, -4, 0));
  for (std::size_t k = 0; k < 16; ++k) m->samples[k] = static_cast<float>(k);
  const Density d = compile_ok({map_lookup(m)});
  const noise::Grid3 g{3, 2, 1, -4.5f, 50.0f, 0.0f, 1.0f};
  const auto out = eval(d, g);
  // x -4.5 floors to -5, before the map's edge: sample (0, 0).
  EXPECT_EQ(out[0], m->sample(-5, 0));
  EXPECT_EQ(out[1], m->sample(-4, 0));
  EXPECT_EQ(out[2], m->sample(-3, 0));
  for (int k = 0; k < 3; ++k) EXPECT_EQ(out[k], out[k + 3]);
}

TEST(DensityMap, NaNSampleMakesTheBoundUnbounded) {
  auto m = std::make_shared<map::Map>(*map::Map::create(8, 1, 0, 0));
  m->samples.assign(64, -5.0f);
  const Density clean = compile_ok({map_lookup(m)});
  EXPECT_TRUE(clean.bounds(0, chunk(0, 0, 0)).high <= 0.0f);  // all empty
  auto with_nan = std::make_shared<map::Map>(*m);
  with_nan->samples[60] = kNaN;
  const Density dirty = compile_ok({map_lookup(with_nan), Op::Const{10}, Op::Add{}});
  const auto b = dirty.bounds(0, chunk(0, 0, 0));
  EXPECT_EQ(b.low, -kInf);
  EXPECT_EQ(b.high, kInf);
  // Evaluation gives NaN where the interpolation reads the NaN sample.
  const auto out = eval(dirty, {8, 1, 8, 0, 0, 0, 1});
  EXPECT_TRUE(std::isnan(out[60]));
}

// Every sampled value lies inside the bound of its box.
TEST(DensityBounds, HoldEverySampleOfRandomBoxes) {
  rng::StreamRng r(0xB0B, {0, 0, 0}, "boxes");
  auto uniform = [&](float lo, float hi) { return lo + (hi - lo) * r.next_f32(); };
  const float gains[] = {0.5f, -1.0f, -0.5f, 0.0f, 1.3f};
  std::size_t points = 0;
  Scratch scratch;
  for (int box = 0; points < 100000; ++box) {
    Op::Noise n = noise_op(r.next_u64());
    n.options.octaves = 1 + static_cast<std::uint32_t>(r.below(6));
    n.options.gain = gains[box % 5];
    n.options.frequency = uniform(0.005f, 0.3f);
    n.options.shaping = static_cast<noise::Shaping>(r.below(3));
    n.stretch = {uniform(0.5f, 3.0f), uniform(0.5f, 3.0f), uniform(0.5f, 3.0f)};
    Op::Noise2 n2;
    n2.stream = r.next_u64();
    n2.options = n.options;
    n2.amplitude = uniform(-4.0f, 4.0f);
    const Density d = compile_ok(
        {n, n2, Op::Mul{}, Op::Coord{1}, Op::Const{0.1f}, Op::Mul{}, Op::Sub{}, Op::Abs{}, n, Op::Max{}});
    const noise::Grid3 g{
        8, 8, 8, uniform(-5000, 5000), uniform(-300, 300), uniform(-5000, 5000), uniform(0.1f, 6.0f)};
    const auto b = d.bounds(77, g);
    std::vector<float> out(512);
    ASSERT_TRUE(d.evaluate_with(77, g, out, scratch));
    for (float v : out) {
      ASSERT_LE(b.low, v) << "box " << box;
      ASSERT_GE(b.high, v) << "box " << box;
    }
    points += out.size();
  }
}

TEST(DensityScratch, GrowKeepsValuesAndCuts) {
  Scratch s;
  auto two = s.grow(2, 10);
  ASSERT_EQ(two.size(), 2u);
  for (const auto& b : two) EXPECT_EQ(b, std::vector<float>(10, 0.0f));
  two[0][3] = 5.0f;
  auto one = s.grow(1, 4);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0], (std::vector<float>{0, 0, 0, 5}));
  EXPECT_EQ(s.grow(2, 10)[1].size(), 10u);  // the second was left at ten
  EXPECT_TRUE(s.grow(0, 10).empty());
}

TEST(DensityScratch, KeptScratchAllocatesNothingAfterTheFirstEvaluation) {
  auto m = std::make_shared<map::Map>(*map::Map::create(64, 1, -32, -32));
  Op::Contour c;
  c.stream = 4;
  const Density d = compile_ok({noise_op(1), noise_op(1), Op::Add{}, Op::Noise2{}, Op::Mul{}, c, Op::Sub{},
                                map_lookup(m), Op::Max{}, Op::Coord{1}, Op::Sub{}});
  const noise::Grid3 lattice{18, 18, 18, 0, 0, 0, 1};
  std::vector<float> a(4096), b(5832);
  Scratch scratch;
  ASSERT_TRUE(d.evaluate_with(1, chunk(0, 0, 0), a, scratch));
  ASSERT_TRUE(d.evaluate_with(1, lattice, b, scratch));
  test::AllocationWatch watch;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(d.evaluate_with(1, chunk(i, 1, 0), a, scratch));
    ASSERT_TRUE(d.evaluate_with(1, lattice, b, scratch));
    EXPECT_LT(d.bounds(1, chunk(i, 0, 0)).low, d.bounds(1, chunk(i, 0, 0)).high);
  }
  EXPECT_EQ(watch.count(), 0u);
}

}  // namespace
}  // namespace ostrel_core::detgen::density
