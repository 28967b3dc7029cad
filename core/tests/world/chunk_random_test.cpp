// 100,000 random edits checked against a plain array of 4096 block values.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <vector>

#include "world/chunk.hpp"

namespace ostrel_core::chunk {
namespace {

using block::BlockValue;

std::uint8_t width_for(std::size_t n) {
  return n < 2 ? 0 : static_cast<std::uint8_t>(std::bit_width(n - 1));
}

// What set_block_local promises beyond check_invariants: distinct live contents and arrays, and
// an index no wider than the live entries or the palette length need.
::testing::AssertionResult write_promises(const Chunk& c) {
  std::vector<std::uint64_t> contents;
  std::vector<Cells> arrays;
  for (const auto& e : c.palette()) {
    if (e.refs == 0) continue;
    contents.push_back(e.content);
    if (e.kind() == block::Kind::Mixed) arrays.push_back(c.mixed().cells(e.mixed_slot()));
  }
  std::sort(contents.begin(), contents.end());
  std::sort(arrays.begin(), arrays.end());
  if (std::adjacent_find(contents.begin(), contents.end()) != contents.end()) {
    return ::testing::AssertionFailure() << "duplicate content";
  }
  if (std::adjacent_find(arrays.begin(), arrays.end()) != arrays.end()) {
    return ::testing::AssertionFailure() << "duplicate mixed array";
  }
  if (c.mixed().live_count() != arrays.size()) {
    return ::testing::AssertionFailure() << "mixed slots live without a palette entry";
  }
  if (c.palette().size() > 4096) return ::testing::AssertionFailure() << "palette over 4096";
  if (c.index_width() > std::max(width_for(c.live_count()), width_for(c.palette().size()))) {
    return ::testing::AssertionFailure() << "index wider than needed: " << int{c.index_width()};
  }
  if (c.free_slots().empty() && c.palette().size() != c.live_count()) {
    return ::testing::AssertionFailure() << "free entries off the free stack";
  }
  return ::testing::AssertionSuccess();
}

class Edits {
 public:
  explicit Edits(unsigned seed) : rng_(seed) {}

  void new_phase() {
    constexpr int kRegions[] = {1, 8, 64, 512, 4096};
    constexpr int kPools[] = {1, 2, 5, 40, 600};
    region_ = kRegions[pick(5)];
    pool_ = kPools[pick(5)];
    arrays_.clear();
    for (int i = 0; i < 6; ++i) arrays_.push_back(random_cells());
  }
  std::uint16_t block() { return static_cast<std::uint16_t>(pick(region_)); }
  MaterialId material() { return static_cast<MaterialId>(pick(pool_ + 1)); }
  std::uint32_t mask() {
    switch (pick(5)) {
      case 0: return 0;
      case 1: return block::kOccupancyFull;
      case 2: return 1u << pick(27);
      case 3: return static_cast<std::uint32_t>(rng_());  // bits above 26 included
      default: return static_cast<std::uint32_t>(rng_()) & block::kOccupancyFull;
    }
  }
  Cells cells() { return pick(3) == 0 ? random_cells() : arrays_[pick(arrays_.size())]; }
  int pick(std::size_t n) { return static_cast<int>(std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_)); }

 private:
  Cells random_cells() {
    Cells c{};
    const int filled = pick(28);
    for (int i = 0; i < filled; ++i) c[pick(27)] = pick(3) == 0 ? 0 : material();
    return c;
  }

  std::mt19937 rng_;
  int region_ = 4096;
  int pool_ = 5;
  std::vector<Cells> arrays_;
};

TEST(ChunkRandomEdits, MatchThePlainModelAndKeepEveryInvariant) {
  constexpr int kSteps = 100'000;
  constexpr int kPhase = 2'000;
  Edits gen(20261210);
  Chunk chunk = Chunk::filled({2, -1, 0}, 0);
  std::vector<BlockValue> model(4096, BlockValue::air());
  std::size_t repacks = 0;
  std::size_t widest = 0;

  for (int step = 0; step < kSteps; ++step) {
    if (step % kPhase == 0) gen.new_phase();
    const std::uint16_t b = gen.block();
    const LocalPos local = LocalPos::from_index(b);
    const std::size_t palette_before = chunk.palette().size();
    switch (gen.pick(4)) {
      case 0: {
        BlockValue v = BlockValue::whole(gen.material());
        chunk.set_block_local(local, v);
        model[b] = v;
        break;
      }
      case 1: {
        BlockValue v = BlockValue::partial(gen.material(), gen.mask());
        chunk.set_block_local(local, v);
        model[b] = v.canonical();
        break;
      }
      case 2: {
        BlockValue v = BlockValue::mixed(gen.cells());
        chunk.set_block_local(local, v);
        model[b] = v.canonical();
        break;
      }
      default: {
        const std::uint8_t cell = static_cast<std::uint8_t>(gen.pick(27));
        const MaterialId m = gen.pick(2) == 0 ? 0 : gen.material();
        const coords::CellPos cp = coords::CellPos::from_index(cell);
        const coords::BlockPos bp = chunk.position().block(local);
        const coords::SubNodePos s{bp.x * 3 + cp.x, bp.y * 3 + cp.y, bp.z * 3 + cp.z};
        ASSERT_TRUE(chunk.set_subnode(s, m).has_value());
        Cells cells = model[b].cells();
        cells[cell] = m;
        model[b] = BlockValue::mixed(cells).canonical();
        break;
      }
    }
    if (chunk.palette().size() < palette_before) ++repacks;
    widest = std::max<std::size_t>(widest, chunk.index_width());

    ASSERT_TRUE(chunk.check_invariants()) << "step " << step;
    // Sorting every content is the slow part; a duplicate lives on until its blocks are gone.
    if (step % 8 == 0) {
      ASSERT_TRUE(write_promises(chunk)) << "step " << step;
    }
    ASSERT_EQ(chunk.get_block_local(local).to_value(), model[b]) << "step " << step;
    if (step % 1000 == 999) {
      for (std::uint16_t i = 0; i < 4096; ++i) {
        ASSERT_EQ(chunk.get_block_local(LocalPos::from_index(i)).to_value(), model[i])
            << "step " << step << " block " << i;
      }
    }
    if (step % 10'000 == 9'999) {
      auto back = Chunk::from_parts(chunk.position(), chunk.to_parts());
      ASSERT_TRUE(back.has_value()) << back.error().message();
      ASSERT_EQ(back->to_parts(), chunk.to_parts());
    }
  }
  // The walk went through repacks and wide indices, not just one small palette.
  EXPECT_GT(repacks, 10u);
  EXPECT_GE(widest, 9u);
}

}  // namespace
}  // namespace ostrel_core::chunk
