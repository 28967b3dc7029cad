#include "plans/capture.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

#include "world/world.hpp"

namespace ostrel_server::plans {

namespace plan = ostrel_core::plan;
namespace block = ostrel_core::block;
using ostrel_core::coords::BlockPos;
using ostrel_core::coords::ChunkPos;

namespace {

std::string_view name_for(const Names& names, MaterialId id) {
  const std::string* n = names.name_of(id);
  return n == nullptr ? kUnknownMaterial : std::string_view(*n);
}

plan::PlanError not_loaded(std::int64_t x, std::int64_t y, std::int64_t z) {
  return plan::PlanError{.kind = plan::PlanErrorKind::NotLoaded, .x = x, .y = y, .z = z};
}

// The entries of one block, handed to `set` as (material, mask).
template <class Set>
std::expected<void, plan::PlanError> record(const block::BlockView& b, Set&& set) {
  switch (b.kind()) {
    case block::Kind::Whole:
      if (b.material() == 0) return {};
      return set(b.material(), block::kOccupancyFull);
    case block::Kind::Partial:
      if (b.material() == 0) return {};
      return set(b.material(), b.mask() & block::kOccupancyFull);
    case block::Kind::Mixed: {
      const auto& cells = b.mixed_cells();
      std::array<std::uint32_t, 27> masks{};  // per first appearance
      std::array<MaterialId, 27> order{};
      std::size_t n = 0;
      for (std::uint32_t i = 0; i < 27; ++i) {
        if (cells[i] == 0) continue;
        std::size_t k = 0;
        while (k < n && order[k] != cells[i]) ++k;
        if (k == n) order[n++] = cells[i];
        masks[k] |= 1u << i;
      }
      for (std::size_t k = 0; k < n; ++k) {
        if (auto r = set(order[k], masks[k]); !r) return r;
      }
      return {};
    }
  }
  return {};
}

}  // namespace

std::expected<plan::Plan, plan::PlanError> capture(const world::World& world, const Names& names,
                                                   std::string_view domain, BlockPos from, BlockPos to) {
  const std::array<std::int32_t, 3> lo{std::min(from.x, to.x), std::min(from.y, to.y),
                                       std::min(from.z, to.z)};
  const std::array<std::int32_t, 3> hi{std::max(from.x, to.x), std::max(from.y, to.y),
                                       std::max(from.z, to.z)};
  std::array<std::uint16_t, 3> extent{};
  constexpr char kAxes[] = {'x', 'y', 'z'};
  for (std::size_t a = 0; a < 3; ++a) {
    const std::int64_t e = std::int64_t{hi[a]} - lo[a] + 1;
    if (e > plan::kMaxExtent) {
      return std::unexpected(
          plan::PlanError{.kind = plan::PlanErrorKind::TooBig,
                          .axis = kAxes[a],
                          .extent = static_cast<std::uint32_t>(std::min<std::int64_t>(e, UINT32_MAX))});
    }
    extent[a] = static_cast<std::uint16_t>(e);
  }
  plan::Plan out{.w = extent[0], .h = extent[1], .d = extent[2]};

  // Plan::set, with each material's palette entry found by name once: two ids may share a name
  // ("engine:unknown"), so the palette stays keyed by name.
  constexpr std::uint32_t kNone = 0xFFFF'FFFF;
  std::vector<std::uint32_t> entry_of(std::size_t{1} << 16, kNone);
  // Room for one entry per block of the box, up to the entry limit: a growing list would be
  // copied again and again.
  out.cells.reserve(std::min<std::size_t>(std::size_t{extent[0]} * extent[1] * extent[2], plan::kMaxCells));
  std::uint32_t index = 0;  // of the block being visited
  auto set = [&](MaterialId id, std::uint32_t mask) -> std::expected<void, plan::PlanError> {
    if (mask == 0) return {};
    if (out.cells.size() >= plan::kMaxCells)
      return std::unexpected(plan::PlanError{.kind = plan::PlanErrorKind::TooManyBlocks});
    if (entry_of[id] == kNone) {
      const std::string_view name = name_for(names, id);
      auto it = std::find(out.palette.begin(), out.palette.end(), name);
      if (it == out.palette.end()) {
        if (out.palette.size() >= plan::kMaxPalette)
          return std::unexpected(plan::PlanError{.kind = plan::PlanErrorKind::PaletteFull});
        out.palette.emplace_back(name);
        it = out.palette.end() - 1;
      }
      entry_of[id] = static_cast<std::uint32_t>(it - out.palette.begin());
    }
    out.cells.push_back({index, static_cast<std::uint16_t>(entry_of[id]), mask});
    return {};
  };

  const ostrel_core::chunk::Chunk* chunk = nullptr;
  ChunkPos at_chunk;
  for (std::uint16_t z = 0; z < extent[2]; ++z) {
    for (std::uint16_t y = 0; y < extent[1]; ++y) {
      for (std::uint16_t x = 0; x < extent[0]; ++x) {
        const BlockPos pos{lo[0] + x, lo[1] + y, lo[2] + z};
        if (chunk == nullptr || pos.chunk() != at_chunk) {
          at_chunk = pos.chunk();
          chunk = world.resident(domain, at_chunk);
        }
        if (chunk == nullptr) return std::unexpected(not_loaded(pos.x, pos.y, pos.z));
        auto b = chunk->get_block(pos);
        if (!b) return std::unexpected(not_loaded(pos.x, pos.y, pos.z));
        index = x + std::uint32_t{extent[0]} * (y + std::uint32_t{extent[1]} * z);
        auto r = record(*b, set);
        if (!r) return std::unexpected(r.error());
      }
    }
  }
  return out;
}

}  // namespace ostrel_server::plans
