#include "detgen/buffer/sample_recipe.hpp"

#include <cstdlib>

#include "detgen/rng.hpp"

namespace ostrel_core::detgen::buffer::sample {

namespace {

using density::Op;

density::Density compiled(std::vector<Op> ops) {
  auto d = density::Density::compile(std::move(ops));
  if (!d) std::abort();  // a fixed program: compiles or the build is broken
  return std::move(*d);
}

Op::Noise noise(std::string_view stream, float amplitude, float frequency) {
  Op::Noise n;
  n.stream = rng::fnv1a64(stream);
  n.amplitude = amplitude;
  n.options = {3, frequency, 2.0f, 0.5f, noise::Shaping::Plain};
  return n;
}

}  // namespace

Recipe make_recipe() {
  Op::Noise2 slow;
  slow.stream = rng::fnv1a64("biome");
  slow.options = {2, 0.01f, 2.0f, 0.5f, noise::Shaping::Plain};
  // Pools lie where a plane noise says: the terraced pour refuses a `within` that reads y.
  Op::Noise2 lake;
  lake.stream = rng::fnv1a64("lake");
  lake.options = {3, 0.05f, 2.0f, 0.5f, noise::Shaping::Plain};
  std::vector<StampBlock> post{{0, 0, 0, kWood, kCellMask}, {0, 1, 0, kWood, kCellMask}};
  for (std::int32_t d = -2; d <= 2; ++d) post.push_back({d, 2, 0, kLeaf, kCellMask});
  return Recipe{
      compiled({Op::Const{14.0f}, Op::Coord{1}, Op::Sub{}, noise("ground", 6.0f, 0.03f), Op::Add{}}),
      compiled({noise("ledge", 1.0f, 0.08f), Op::Const{0.55f}, Op::Sub{}}),
      compiled({slow, Op::Const{1.5f}, Op::Mul{}, Op::Const{0.5f}, Op::Add{}}),
      compiled({Op::Const{18.5f}}),
      compiled({Op::Coord{0}, Op::Const{0.07f}, Op::Mul{}, lake, Op::Add{}}),
      {{0.0f, kGrass}, {1.0f, kDirt}, {4.0f, kStone}},
      {{1, 0.0f, 0.6f, kSand}, {0, 0.0f, 0.4f, kTurf}},
      Schematic::of(std::move(post)),
      Schematic::of({{1, 0, 1, kStone, 0x1FF}}),
  };
}

void run_typical(ChunkBuffer& b, const Recipe& r, std::uint64_t seed) {
  (void)b.fill_palette_detail(r.ground, seed, r.bands, true);
  (void)b.fill_layers(r.ground, r.code, seed, r.layers);
  (void)b.fill_cover(kFern, 2, nullptr, seed, {});
  ScatterSpec s;
  s.depth = &r.ground;
  s.schematics = {&r.post, &r.post, &r.slab};
  s.cell = 6;
  s.chance = 0.4f;
  (void)b.scatter(seed, s);
  b.fill_fluid_below(16, 1);
}

void run(ChunkBuffer& b, const Recipe& r, std::uint64_t seed) {
  std::vector<std::int32_t> heights(256);
  for (std::size_t i = 0; i < 256; ++i) heights[i] = -40 + static_cast<std::int32_t>(i % 7);
  (void)b.fill_below_heightmap(heights, kStone);
  (void)b.fill_density(r.ground, seed, kDirt);
  (void)b.fill_density_detail(r.ledge, seed, kStone, false);
  (void)b.fill_palette(r.ground, seed, r.bands);
  run_typical(b, r, seed);
  TerracedSpec t;
  t.level = &r.level;
  t.within = &r.within;
  t.lip = kLip;
  t.fluid = 2;
  if (!b.fill_fluid_terraced(seed, t)) std::abort();  // a fixed recipe: pours or it is broken
  (void)b.set_subnode_world(16 * b.pos().x * 3 + 4, 16 * b.pos().y * 3 + 4, 16 * b.pos().z * 3 + 4, kLeaf);
}

}  // namespace ostrel_core::detgen::buffer::sample
