#pragma once
// A fixed battery over the generation math whose every result bit goes into one BLAKE3 digest:
// every density operation with NaN, +-0 and +-inf operands, fills of 1 to 16 octaves, noise at
// extreme positions and its bounds, map noise, blur, combine and lookups at the 32-bit limits,
// trilinear cells, table trigonometry and streams, noise heightmaps, the other map passes and
// rasterised schematics. Every compiler at every optimisation level
// must give the committed digest. Shared by the unit tests and the detgen_golden program.

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/blake3.hpp"
#include "base/text.hpp"
#include "detgen/cells.hpp"
#include "detgen/density.hpp"
#include "detgen/map.hpp"
#include "detgen/noise.hpp"
#include "detgen/rng.hpp"
#include "detgen/shapes.hpp"
#include "detgen/trig.hpp"

namespace ostrel_core::detgen::golden {

// The digest of battery(), committed. A change of any generation result changes it.
inline constexpr const char* kDigest = "758df717b568d815ba8801a2d9d89711290ce47bc20bade2928c17c3b62979d5";

class Sink {
 public:
  // Every NaN enters as one pattern: its sign and payload are not portable (x86's default NaN
  // is negative, ARM's positive, and which operand's NaN an addition keeps depends on the order
  // a compiler gives the operands), and no result that is a number ever depends on them.
  void f(float v) { u32(std::isnan(v) ? 0x7FC00000u : std::bit_cast<std::uint32_t>(v)); }
  void fs(std::span<const float> vs) {
    for (float v : vs) f(v);
  }
  void u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void u64(std::uint64_t v) {
    u32(static_cast<std::uint32_t>(v));
    u32(static_cast<std::uint32_t>(v >> 32));
  }
  void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
  // Whether an operation succeeded, so that a refusal changes the digest too.
  template <class R>
  void ok(const R& result) {
    u32(result ? 1 : 0);
  }
  void interval(noise::Interval r) {
    f(r.low);
    f(r.high);
  }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

namespace battery_detail {

using density::Density;
using density::Op;

inline constexpr float kInf = std::numeric_limits<float>::infinity();
inline const float kNaN = std::bit_cast<float>(0x7FC00000u);

inline const std::vector<float>& specials() {
  static const std::vector<float> v = {
      kNaN, kInf, -kInf, 0.0f, -0.0f, 1.0f, -2.5f, 0x1p-149f, std::numeric_limits<float>::max(), 3.3f};
  return v;
}

// Operations that push `v`: a constant, or a division that makes the infinity or NaN.
inline void push_value(std::vector<Op>& ops, float v) {
  if (std::isnan(v) || std::isinf(v)) {
    ops.push_back(Op::Const{std::isnan(v) ? 0.0f : (v > 0 ? 1.0f : -1.0f)});
    ops.push_back(Op::Const{0.0f});
    ops.push_back(Op::Div{});
  } else {
    ops.push_back(Op::Const{v});
  }
}

inline noise::Grid3 chunk_grid(float cx, float cy, float cz) {
  return {16, 16, 16, 16 * cx, 16 * cy, 16 * cz, 1.0f};
}

inline void run_program(Sink& s, std::vector<Op> ops, const noise::Grid3& g, density::Scratch& scratch) {
  auto d = Density::compile(std::move(ops));
  if (!d) {
    s.u32(0xDEAD0000u + static_cast<std::uint32_t>(d.error().kind));
    return;
  }
  std::vector<float> out(noise::sample_count(g));
  if (!d->evaluate_with(0x0123456789ABCDEFull, g, out, scratch)) {
    s.u32(0xDEADFFFFu);
    return;
  }
  s.fs(out);
  s.interval(d->bounds(0x0123456789ABCDEFull, g));
}

inline void operations(Sink& s) {
  density::Scratch scratch;
  const noise::Grid3 two{2, 1, 1, 0, 0, 0, 1};
  const Op binary[] = {Op::Add{}, Op::Sub{}, Op::Mul{}, Op::Div{}, Op::Min{}, Op::Max{}};
  for (const Op& op : binary) {
    for (float a : specials()) {
      for (float b : specials()) {
        std::vector<Op> ops;
        push_value(ops, a);
        push_value(ops, b);
        ops.push_back(op);
        run_program(s, std::move(ops), two, scratch);
      }
    }
  }
  const Op unary[] = {Op::Abs{}, Op::Clamp{-1.0f, 1.0f}, Op::Clamp{2.0f, -2.0f}, Op::Clamp{-0.0f, 0.0f}};
  for (const Op& op : unary) {
    for (float a : specials()) {
      std::vector<Op> ops;
      push_value(ops, a);
      ops.push_back(op);
      run_program(s, std::move(ops), two, scratch);
    }
  }
  // Coordinates of grids with non-finite or extreme origins and steps.
  const noise::Grid3 grids[] = {{3, 2, 2, kNaN, 0, 0, 1},
                                {3, 1, 1, kInf, -kInf, 0, 1},
                                {2, 2, 2, 0, 0, 0, kInf},
                                {4, 1, 1, -1e30f, 5, 5, 1e30f},
                                {2, 3, 2, 0x1p-149f, -0.0f, 0.0f, -0.5f}};
  for (const auto& g : grids) {
    for (std::uint8_t axis = 0; axis < 3; ++axis) run_program(s, {Op::Coord{axis}}, g, scratch);
  }
}

inline void fills(Sink& s) {
  for (std::uint32_t octaves = 0; octaves <= 17; ++octaves) {
    const auto shaping = static_cast<noise::Shaping>(octaves % 3);
    const noise::NoiseOptions o{octaves, 0.011f * static_cast<float>(octaves + 1),
                                1.7f + 0.05f * static_cast<float>(octaves),
                                0.35f + 0.04f * static_cast<float>(octaves), shaping};
    const std::uint64_t seed = 0x9E3779B97F4A7C15ull * (octaves + 1);
    std::vector<float> plane(15), box(18), stretched(18);
    s.ok(noise::fill_2d(seed, {5, 3, -123.25f, 4567.5f, 1.25f, 3.0f}, o, plane));
    s.ok(noise::fill_3d(seed, {3, 3, 2, 88.0f, -17.5f, -9000.0f, 2.5f}, o, box));
    const float stretch[3] = {0.75f, 3.0f, 1.5f};
    s.ok(noise::fill_3d_stretched(seed, {3, 3, 2, -4.0f, 64.0f, 12.0f, 0.5f}, o, stretch, stretched));
    s.fs(plane);
    s.fs(box);
    s.fs(stretched);
  }
  // Extreme positions and options.
  const float positions[] = {kNaN,       kInf,        -kInf, 0x1p-149f, -0.0f,
                             4194304.0f, -4194305.0f, 1e38f, 0.5f,      -123.456f};
  for (float x : positions) {
    for (float y : positions) {
      s.f(noise::simplex_2d(7, x, y));
      s.f(noise::simplex_3d(7, x, y, 0.25f));
      s.f(noise::simplex_3d(8, y, -0.75f, x));
    }
  }
  const noise::NoiseOptions wild[] = {{4, kInf, 2.0f, 0.5f, noise::Shaping::Plain},
                                      {3, 0.02f, kNaN, 0.5f, noise::Shaping::Ridged},
                                      {5, 1e-30f, 1e10f, -1.0f, noise::Shaping::Billow},
                                      {16, 0.02f, 2.0f, 0.0f, noise::Shaping::Plain}};
  for (const auto& o : wild) {
    std::vector<float> out(8);
    s.ok(noise::fill_3d(3, {2, 2, 2, -1.5f, 2.5f, 1000.0f, 3.0f}, o, out));
    s.fs(out);
  }
}

inline void bounds(Sink& s) {
  rng::StreamRng r(1, {2, 3, 4}, "golden:bounds");
  auto u = [&](float lo, float hi) { return lo + (hi - lo) * r.next_f32(); };
  for (int i = 0; i < 200; ++i) {
    const float x = u(-1000, 1000), y = u(-100, 100), z = u(-1000, 1000), w = u(0, 4);
    const auto b = noise::simplex_3d_bounds(r.next_u64(), x + w, x, y, y + w * 0.5f, z, z + w);
    s.u32(b ? 1 : 0);
    if (b) s.interval(*b);
    const float gains[] = {0.5f, -1.0f, -0.5f, 0.0f};
    const noise::NoiseOptions o{static_cast<std::uint32_t>(i % 18), u(0.001f, 0.5f), u(1.5f, 2.5f),
                                gains[i % 4], static_cast<noise::Shaping>(i % 3)};
    s.interval(noise::fractal_3d_bounds(r.next_u64(), o, x, x + 16 * w, y, y + 16, z + 16, z));
  }
  const auto none = noise::simplex_3d_bounds(1, kNaN, kNaN, 0, 1, 0, 1);
  s.u32(none ? 1 : 0);
  s.interval(noise::fractal_3d_bounds(1, {}, kInf, -kInf, kNaN, 0, 0, 1e30f));
}

inline std::shared_ptr<map::Map> new_map(std::uint32_t side, std::uint32_t scale, std::int32_t ox,
                                         std::int32_t oz) {
  return std::make_shared<map::Map>(*map::Map::create(side, scale, ox, oz));
}

inline void maps(Sink& s) {
  auto a = new_map(32, 3, -40, 17);
  auto b = new_map(32, 5, 1000, -1000);
  a->noise(11, {5, 0.013f, 2.0f, 0.5f, noise::Shaping::Plain}, 7.5f);
  b->noise(12, {3, 0.05f, 1.9f, 0.6f, noise::Shaping::Ridged}, -2.0f);
  s.fs(a->samples);
  s.fs(b->samples);
  s.ok(a->blur(2));
  s.fs(a->samples);
  for (auto way : {map::CombineWay::Add, map::CombineWay::Mul, map::CombineWay::Min, map::CombineWay::Max}) {
    map::Map c = *a;
    s.ok(c.combine(*b, way));
    s.fs(c.samples);
  }
  // Lookups, heights and ranges at the 32-bit limits, over finite and non-finite samples.
  const std::int32_t edges[] = {INT32_MIN, INT32_MIN + 1, -17, 0, 31, INT32_MAX - 1, INT32_MAX};
  auto probe = [&](const map::Map& m) {
    for (std::int32_t x : edges) {
      for (std::int32_t z : edges) {
        s.f(m.sample(x, z));
        s.interval(m.range_over(x, z, z, x));
      }
      for (std::int32_t h : m.heightmap(x, -(x / 2))) s.i32(h);
    }
  };
  probe(*a);
  auto odd = new_map(8, 1, INT32_MAX - 3, INT32_MIN);
  const float values[] = {kNaN, kInf, -kInf, 0x1p-149f, -0.0f, 3e38f, -3e38f, 2.9f};
  for (std::size_t k = 0; k < odd->samples.size(); ++k) odd->samples[k] = values[(k * 5) % 8];
  probe(*odd);
  map::Map blurred = *odd;
  s.ok(blurred.blur(3));
  s.fs(blurred.samples);
  map::Map summed = *odd;
  s.ok(summed.combine(*new_map(8, 9, 0, 0), map::CombineWay::Max));
  s.fs(summed.samples);
  auto wide = new_map(4, UINT32_MAX, INT32_MIN, INT32_MAX);
  for (std::size_t k = 0; k < 16; ++k) wide->samples[k] = static_cast<float>(k) - 7.5f;
  probe(*wide);
}

inline void cells(Sink& s) {
  rng::StreamRng r(5, {0, 0, 0}, "golden:cells");
  std::vector<float> lattice(buffer::kLatticeSamples);
  for (float& v : lattice) v = (r.next_f32() - 0.5f) * 100.0f;
  lattice[0] = kNaN;
  lattice[1 + 18 * 16 + 324 * 16] = kInf;
  lattice[5] = -0.0f;
  const std::uint32_t blocks[][3] = {{0, 0, 0}, {16, 16, 16}, {3, 9, 12}, {0, 16, 15}, {4, 0, 0}};
  for (const auto& b : blocks) {
    float out[27];
    buffer::trilinear_cells(
        std::span<const float, buffer::kLatticeSamples>(lattice.data(), buffer::kLatticeSamples), b[0], b[1],
        b[2], out);
    s.fs(out);
  }
}

inline void trig_and_streams(Sink& s) {
  for (int i = -1000; i <= 1000; ++i) {
    const float x = static_cast<float>(i) * 0.1234567f;
    s.f(trig::sin(x));
    s.f(trig::cos(x));
    s.f(trig::atan2(x, static_cast<float>((i * 7919) % 401 - 200) * 0.5f));
  }
  for (float v : specials()) {
    s.f(trig::sin(v));
    s.f(trig::cos(v));
    for (float w : specials()) s.f(trig::atan2(v, w));
  }
  rng::StreamRng r(0xFFFFFFFFFFFFFFFFull, {-1, INT32_MIN, INT32_MAX}, "golden:stream");
  for (int i = 0; i < 64; ++i) {
    s.u64(r.next_u64());
    s.u64(r.below(static_cast<std::uint64_t>(i) * 1000003ull));
    s.f(r.next_f32());
  }
}

inline void programs(Sink& s) {
  density::Scratch scratch;
  auto m = new_map(64, 2, -64, -64);
  m->noise(3, {4, 0.02f, 2.0f, 0.5f, noise::Shaping::Plain}, 20.0f);
  Op::Noise hills;
  hills.stream = rng::fnv1a64("hills");
  hills.amplitude = 24.0f;
  hills.stretch = {1.0f, 2.5f, 1.0f};
  Op::Noise2 ground;
  ground.stream = rng::fnv1a64("ground");
  ground.amplitude = 8.0f;
  Op::Contour river;
  river.stream = rng::fnv1a64("river");
  river.is_signed = true;
  const std::vector<Op> ops = {hills,        ground,    Op::Add{}, density::map_lookup(m),  Op::Add{},
                               Op::Coord{1}, Op::Sub{}, river,     Op::Clamp{-4.0f, 12.0f}, Op::Min{},
                               hills,        Op::Abs{}, Op::Max{}};
  const noise::Grid3 grids[] = {chunk_grid(0, 0, 0),
                                chunk_grid(-3, 1, 7),
                                {18, 18, 18, 32, -16, 48, 1},
                                {6, 4, 5, -100.5f, 3.25f, 77.0f, 0.333f}};
  for (const auto& g : grids) run_program(s, ops, g, scratch);
}

inline void heightmaps(Sink& s) {
  const std::int32_t chunks[] = {0, 1, -1, 77, -3000, INT32_MAX, INT32_MIN};
  const noise::NoiseOptions options[] = {
      {}, {1, 0.1f, 2.0f, 0.5f, noise::Shaping::Plain}, {16, 0.005f, 2.2f, 0.45f, noise::Shaping::Plain}};
  const float amplitudes[] = {6.0f, 0.0f, -37.5f, 3e9f, kNaN};
  for (std::size_t i = 0; i < std::size(chunks); ++i) {
    for (const auto& o : options) {
      for (float a : amplitudes) {
        const std::int32_t base = (i % 2 == 0) ? 64 : INT32_MAX;
        for (std::int32_t h :
             noise::column_heights(0x5EED ^ i, chunks[i], chunks[(i + 3) % std::size(chunks)], o, a, base)) {
          s.i32(h);
        }
      }
    }
  }
}

inline void map_passes(Sink& s) {
  auto m = new_map(24, 7, -100, 333);
  m->noise(21, {4, 0.01f, 2.0f, 0.5f, noise::Shaping::Plain}, 12.0f);
  m->offset(-3.25f);
  s.fs(m->samples);
  m->scale_by(-1.5f);
  s.fs(m->samples);
  m->clamp(-4.0f, 6.5f);
  s.fs(m->samples);
  m->samples[3] = kNaN;
  m->samples[4] = kInf;
  m->clamp(-1.0f, -1.0f);
  s.fs(m->samples);
  for (float by : {kNaN, kInf, -0.0f, 0x1p-149f}) {
    map::Map c = *m;
    c.offset(by);
    s.fs(c.samples);
    c.scale_by(by);
    s.fs(c.samples);
    for (std::int32_t h : c.heightmap(-1, 2)) s.i32(h);
  }
  s.u64(m->revision);
}

inline void schematics(Sink& s) {
  using shapes::Shape;
  std::vector<Shape> tree;
  tree.push_back(
      {shapes::Path{{{{0.5, 0.0, 0.5, 0.45}}, {{0.7, 6.0, 0.4, 0.3}}, {{1.5, 9.0, -0.5, 0.2}}}, 0.0}, 11, 1});
  for (int i = 0; i < 12; ++i) {
    const double a = i * 0.52;
    tree.push_back({shapes::Ellipsoid{{0.5 + 2.5 * (i % 3 - 1), 6.0 + i * 0.4, 0.5 + 2.0 * ((i / 3) % 3 - 1)},
                                      {1.6 + a * 0.1, 1.2, 1.7 - a * 0.05},
                                      i % 2 == 0 ? 0.0 : 0.6},
                    12, 0});
  }
  tree.push_back({shapes::Ellipsoid{{0.5, 3.0, 0.5}, {0.3, 1.0, 0.3}, 0.0}, 0, 5});  // a hollow in the trunk
  tree.push_back({shapes::Cells{{-1, -1, -1}, 0x1FF}, 13, 2});
  tree.push_back({shapes::Path{{{{-4.0, -2.0, 3.0, 0.8}}, {{-4.0, -2.0, 3.0, 0.3}}}, -0.75}, 14, 0});
  const auto cut = shapes::rasterise(tree);
  s.u32(static_cast<std::uint32_t>(cut.blocks.size()));
  for (const auto& b : cut.blocks) {
    s.i32(b.dx);
    s.i32(b.dy);
    s.i32(b.dz);
    s.u32(b.material);
    s.u32(b.mask);
  }
  s.i32(cut.reach_x);
  s.i32(cut.reach_z);
  s.i32(cut.low_dy);
  s.i32(cut.high_dy);
}

}  // namespace battery_detail

struct Section {
  const char* name;
  void (*run)(Sink&);
};
inline constexpr Section kSections[] = {
    {"operations", battery_detail::operations}, {"fills", battery_detail::fills},
    {"bounds", battery_detail::bounds},         {"maps", battery_detail::maps},
    {"cells", battery_detail::cells},           {"trig_and_streams", battery_detail::trig_and_streams},
    {"programs", battery_detail::programs},     {"heightmaps", battery_detail::heightmaps},
    {"map_passes", battery_detail::map_passes}, {"schematics", battery_detail::schematics},
};

inline std::vector<std::uint8_t> section_bytes(const Section& section) {
  Sink s;
  section.run(s);
  return s.bytes();
}

inline std::vector<std::uint8_t> battery() {
  std::vector<std::uint8_t> out;
  for (const auto& section : kSections) {
    const auto b = section_bytes(section);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

inline std::string digest_hex() { return text::hex_bytes(blake3::hash(battery())); }

}  // namespace ostrel_core::detgen::golden
