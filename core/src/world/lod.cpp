#include "world/lod.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>
#include <utility>

#include <fmt/format.h>
#include <zstd.h>

#include "world/block.hpp"
#include "world/chunk.hpp"
#include "fluid/fluid.hpp"
#include "fluid/layer.hpp"

namespace ostrel_core::lod {
namespace {

// Sorted ids; the first longest run wins, so a tie goes to the smaller id.
MaterialId majority_of_sorted(std::span<const MaterialId> ids) {
  MaterialId best = 0;
  std::size_t best_count = 0;
  for (std::size_t i = 0; i < ids.size();) {
    std::size_t j = i + 1;
    while (j < ids.size() && ids[j] == ids[i]) ++j;
    if (j - i > best_count) {
      best = ids[i];
      best_count = j - i;
    }
    i = j;
  }
  return best;
}

// A block counts as solid from 9 of its 27 cells on.
constexpr std::size_t kSolidCells = 9;
// A block at least half full of fluid shows the fluid.
constexpr std::uint8_t kShownFluidLevel = 14;
// Four of eight children make a coarser cell solid.
constexpr std::size_t kSolidChildren = 4;

MaterialId entry_material(const chunk::Chunk& chunk, const chunk::PaletteEntry& e) {
  switch (e.kind()) {
    case block::Kind::Whole:
      return e.material();
    case block::Kind::Partial:
      return solid_majority(block::BlockView::partial(e.material(), e.mask()).cells(), kSolidCells);
    case block::Kind::Mixed:
      return solid_majority(chunk.mixed().cells(e.mixed_slot()), kSolidCells);
  }
  return 0;
}

MaterialId shown_fluid(fluid::Fluid state, const fluid::Fluids& fluids) {
  if (!state.is_wet() || state.level() < kShownFluidLevel) return 0;
  const fluid::Registered* r = fluids.get(state.id());
  return r != nullptr ? r->material : 0;  // a placeholder's material is air
}

}  // namespace

MaterialId solid_majority(std::span<const MaterialId> materials, std::size_t min) {
  // Most cells of real terrain are uniform.
  if (!materials.empty() &&
      std::all_of(materials.begin() + 1, materials.end(), [&](MaterialId m) { return m == materials[0]; })) {
    return materials[0] != 0 && materials.size() >= min ? materials[0] : 0;
  }
  // Blocks give 27 ids and coarser cells 8, so the common case needs no allocation.
  constexpr std::size_t kInline = 32;
  std::array<MaterialId, kInline> inline_buf;
  std::vector<MaterialId> heap_buf;
  std::span<MaterialId> solid;
  if (materials.size() <= kInline) {
    std::size_t n = 0;
    for (MaterialId m : materials) {
      if (m != 0) inline_buf[n++] = m;
    }
    solid = std::span<MaterialId>(inline_buf.data(), n);
  } else {
    for (MaterialId m : materials) {
      if (m != 0) heap_buf.push_back(m);
    }
    solid = heap_buf;
  }
  if (solid.size() < min || solid.empty()) return 0;
  std::sort(solid.begin(), solid.end());
  return majority_of_sorted(solid);
}

Summary Summary::of_wet(const chunk::Chunk& chunk, const fluid::layer::FluidLayer& fluid,
                        const fluid::Fluids& fluids) {
  // One majority per palette entry rather than per block.
  const auto palette = chunk.palette();
  std::vector<MaterialId> by_slot(palette.size(), 0);
  for (std::size_t slot = 0; slot < palette.size(); ++slot) {
    if (palette[slot].refs > 0) by_slot[slot] = entry_material(chunk, palette[slot]);
  }
  std::vector<MaterialId> cells(chunk::kBlocks);
  const auto& indices = chunk.indices();
  for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = by_slot[indices.get(i)];
  const auto states = fluid.states();  // empty, or one per block
  if (!states.empty()) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (cells[i] == 0) cells[i] = shown_fluid(states[i], fluids);
    }
  }
  return Summary(kMinLevel, std::move(cells));
}

std::vector<Summary> Summary::chain_wet(const chunk::Chunk& chunk, const fluid::layer::FluidLayer& fluid,
                                        const fluid::Fluids& fluids) {
  std::vector<Summary> chain;
  chain.reserve(kMaxLevel);
  chain.push_back(of_wet(chunk, fluid, fluids));
  while (auto next = chain.back().coarser()) chain.push_back(std::move(*next));
  return chain;
}

std::optional<Summary> Summary::of_cells(std::uint8_t level, std::vector<MaterialId> cells) {
  if (level < kMinLevel || level > kMaxLevel || cells.size() != cells_of(level)) return std::nullopt;
  return Summary(level, std::move(cells));
}

std::optional<Summary> Summary::coarser() const {
  if (level_ >= kMaxLevel) return std::nullopt;
  const std::size_t side = side_of(level_);
  const std::size_t half = side / 2;
  std::vector<MaterialId> out(half * half * half);
  std::array<MaterialId, 8> children;
  for (std::size_t z = 0; z < half; ++z) {
    for (std::size_t y = 0; y < half; ++y) {
      for (std::size_t x = 0; x < half; ++x) {
        // Children in the order (0,0,0), (1,0,0), (0,1,0), (1,1,0), (0,0,1), ...
        std::size_t k = 0;
        for (std::size_t dz = 0; dz < 2; ++dz) {
          for (std::size_t dy = 0; dy < 2; ++dy) {
            for (std::size_t dx = 0; dx < 2; ++dx) {
              children[k++] = cells_[(2 * x + dx) + side * (2 * y + dy) + side * side * (2 * z + dz)];
            }
          }
        }
        out[x + half * y + half * half * z] = solid_majority(children, kSolidChildren);
      }
    }
  }
  return Summary(static_cast<std::uint8_t>(level_ + 1), std::move(out));
}

Detail Rings::classify(std::uint32_t distance) const {
  const std::uint32_t w = std::max<std::uint32_t>(width, 1);
  if (distance <= w) return Detail::full();
  const auto bits = static_cast<std::uint8_t>(std::bit_width(distance / w));
  return Detail::summary(std::min(bits, kMaxLevel));
}

Detail Rings::stable_level(std::optional<Detail> previous, std::uint32_t distance) const {
  const Detail current = classify(distance);
  if (!previous || *previous == current) return current;
  const std::uint32_t low = distance >= margin ? distance - margin : 0;
  const std::uint32_t high = distance > std::numeric_limits<std::uint32_t>::max() - margin
                                 ? std::numeric_limits<std::uint32_t>::max()
                                 : distance + margin;
  if (classify(low) == current && classify(high) == current) return current;
  return *previous;
}

namespace codec {

std::string EncodeError::message() const {
  switch (kind) {
    case EncodeErrorKind::Compress:
      return fmt::format("could not compress a level-{} summary: {}", level, reason);
  }
  return "unknown summary encoding error";
}

std::expected<std::vector<std::uint8_t>, EncodeError> encode(const Summary& summary) {
  const auto cells = summary.cells();
  std::vector<std::uint8_t> raw(cells.size() * 2);
  for (std::size_t i = 0; i < cells.size(); ++i) {
    raw[2 * i] = static_cast<std::uint8_t>(cells[i] & 0xFF);
    raw[2 * i + 1] = static_cast<std::uint8_t>(cells[i] >> 8);
  }
  std::vector<std::uint8_t> out(kHeaderSize + ZSTD_compressBound(raw.size()));
  out[0] = kFormat;
  out[1] = summary.level();
  const std::size_t n =
      ZSTD_compress(out.data() + kHeaderSize, out.size() - kHeaderSize, raw.data(), raw.size(), kZstdLevel);
  if (ZSTD_isError(n)) {
    return std::unexpected(EncodeError{EncodeErrorKind::Compress, summary.level(), ZSTD_getErrorName(n)});
  }
  out.resize(kHeaderSize + n);
  return out;
}

}  // namespace codec
}  // namespace ostrel_core::lod
