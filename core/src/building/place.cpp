#include "building/place.hpp"

#include <cmath>
#include <limits>

#include "base/num.hpp"

namespace ostrel_core::place {

namespace {

constexpr std::uint32_t kFull = block::kOccupancyFull;

constexpr std::uint32_t cell_of(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return x + 3 * y + 9 * z;
}

// Where carried cell i lands for `quadrant` on a face (`side` for a side face).
std::uint32_t placed_cell(std::uint32_t i, std::uint32_t quadrant, bool side) {
  const std::uint32_t x = i % 3, y = i / 3 % 3, z = i / 9;
  if (!side) {
    switch (quadrant) {
      case 1:
        return cell_of(z, y, 2 - x);
      case 2:
        return cell_of(2 - x, y, 2 - z);
      case 3:
        return cell_of(2 - z, y, x);
      default:
        return i;
    }
  }
  switch (quadrant) {
    case 1:
      return cell_of(z, x, y);
    case 2:
      return cell_of(2 - x, z, y);
    case 3:
      return cell_of(2 - z, 2 - x, y);
    default:
      return cell_of(x, 2 - z, y);
  }
}

bool no_face(Face face) { return face[0] == 0 && face[1] == 0 && face[2] == 0; }

// The world cell range a box covers on one axis: floor(c*48 + lo) to ceil(c*48 + hi) - 1.
std::pair<std::int64_t, std::int64_t> cell_range(std::int32_t chunk, float lo, float hi) {
  const double base = static_cast<double>(chunk) * 48.0;
  return {num::saturate<std::int64_t>(std::floor(base + lo)),
          num::saturate<std::int64_t>(std::ceil(base + hi)) - 1};
}

}  // namespace

std::string_view text(Refusal refusal) {
  switch (refusal) {
    case Refusal::NotCarrying:
      return "you are not carrying any of that";
    case Refusal::Occupied:
      return "there is already something there";
    case Refusal::BodyInTheWay:
      return "someone is standing there";
    case Refusal::OnePiece:
      return "that is one piece; it goes down whole or not at all";
    case Refusal::NotFlat:
      return "this is not flat ground";
  }
  return "you are not carrying any of that";
}

std::expected<Placement, Refusal> plan(coords::SubNodePos target, std::uint32_t units, bool shaped,
                                       std::uint32_t shape, bool single, std::uint32_t occupied) {
  if (units == 0) return std::unexpected(Refusal::NotCarrying);
  const coords::BlockPos block = target.block();
  if (shaped) {
    shape &= kFull;
    const std::uint32_t n = block::mask_cells(shape);
    if (units < n) return std::unexpected(Refusal::NotCarrying);
    return Placement{block, shape, n};
  }
  if (single) {
    return Placement{block, 1u << target.cell_index(), 1};
  }
  occupied &= kFull;
  if (occupied == kFull) return std::unexpected(Refusal::Occupied);
  const std::uint32_t n = std::min(units, 27 - block::mask_cells(occupied));
  return Placement{block, trim(kFull & ~occupied, n), n};
}

std::expected<Placement, Refusal> plan_cut(coords::SubNodePos target, std::uint32_t units, const Cells& cut) {
  const std::uint32_t occupancy = inventory::cut::occupancy_of(cut);
  const std::uint32_t n = block::mask_cells(occupancy);
  if (n == 0 || units < n) return std::unexpected(Refusal::NotCarrying);
  return Placement{target.block(), occupancy, n};
}

std::uint32_t trim(std::uint32_t cells, std::uint32_t n) {
  cells &= kFull;
  if (n >= block::mask_cells(cells)) return cells;
  std::uint32_t out = 0, taken = 0;
  for (std::uint8_t i : inventory::fill_order()) {
    if (taken == n) break;
    if (cells >> i & 1) {
      out |= 1u << i;
      ++taken;
    }
  }
  return out;
}

std::uint32_t quadrant(float x, float z) {
  if (std::fabs(z) < std::fabs(x)) return x >= 0.0f ? 1 : 3;
  return z >= 0.0f ? 0 : 2;
}

std::uint32_t oriented(std::uint32_t shape, Face face, float x, float z) {
  shape &= kFull;
  if (no_face(face)) return shape;
  const std::uint32_t q = quadrant(x, z);
  const bool side = face[1] == 0;
  std::uint32_t out = 0;
  for (std::uint32_t i = 0; i < 27; ++i) {
    if (shape >> i & 1) out |= 1u << placed_cell(i, q, side);
  }
  return out;
}

Cells oriented_cells(const Cells& cells, Face face, float x, float z) {
  if (no_face(face)) return cells;
  const std::uint32_t q = quadrant(x, z);
  const bool side = face[1] == 0;
  Cells out{};
  for (std::uint32_t i = 0; i < 27; ++i) out[placed_cell(i, q, side)] = cells[i];
  return out;
}

bool blocks_a_body(coords::BlockPos block, std::uint32_t cells, std::string_view domain,
                   const std::vector<BodyBox>& boxes) {
  cells &= kFull;
  struct Range {
    std::array<std::pair<std::int64_t, std::int64_t>, 3> axis;
  };
  std::vector<Range> ranges;
  for (const auto& b : boxes) {
    if (b.domain != domain) continue;
    ranges.push_back({{cell_range(b.chunk.x, b.box.min[0], b.box.max[0]),
                       cell_range(b.chunk.y, b.box.min[1], b.box.max[1]),
                       cell_range(b.chunk.z, b.box.min[2], b.box.max[2])}});
  }
  for (std::uint32_t i = 0; i < 27; ++i) {
    if ((cells >> i & 1) == 0) continue;
    const std::array<std::int64_t, 3> at{3 * std::int64_t{block.x} + i % 3,
                                         3 * std::int64_t{block.y} + i / 3 % 3,
                                         3 * std::int64_t{block.z} + i / 9};
    for (const auto& r : ranges) {
      bool inside = true;
      for (int k = 0; k < 3; ++k) inside = inside && at[k] >= r.axis[k].first && at[k] <= r.axis[k].second;
      if (inside) return true;
    }
  }
  return false;
}

std::vector<proto::Edit> writes(coords::BlockPos block, std::uint32_t cells, MaterialId material,
                                std::uint32_t occupied, bool same) {
  cells &= kFull;
  occupied &= kFull;
  std::vector<proto::Edit> out;
  if (cells == 0) return out;
  auto cell_edit = [&](std::uint32_t i) {
    return proto::edit::Cell{block.sub_node(coords::CellPos::from_index(static_cast<std::uint8_t>(i))), material};
  };
  if (block::mask_cells(cells) == 1) {
    out.emplace_back(cell_edit(static_cast<std::uint32_t>(__builtin_ctz(cells))));
    return out;
  }
  if (occupied != 0 && !same) {
    for (std::uint8_t i : inventory::fill_order()) {
      if (cells >> i & 1) out.emplace_back(cell_edit(i));
    }
    return out;
  }
  const std::uint32_t all = occupied | cells;
  if (all == kFull) {
    out.emplace_back(proto::edit::Set{block, material});
  } else {
    out.emplace_back(proto::edit::Partial{block, material, all});
  }
  return out;
}

std::vector<std::pair<MaterialId, std::vector<proto::Edit>>> cut_writes(coords::BlockPos block,
                                                                        const Cells& cut,
                                                                        const Cells& present) {
  std::vector<std::pair<MaterialId, std::vector<proto::Edit>>> out;
  Cells work = present;
  for (const auto& [m, mask] : inventory::cut::by_material(cut)) {
    std::uint32_t occupied = 0;
    bool same = true;
    for (std::uint32_t i = 0; i < 27; ++i) {
      if (work[i] == 0) continue;
      occupied |= 1u << i;
      same = same && work[i] == m;
    }
    out.emplace_back(m, writes(block, mask, m, occupied, same));
    for (std::uint32_t i = 0; i < 27; ++i) {
      if (mask >> i & 1) work[i] = m;
    }
  }
  return out;
}

}  // namespace ostrel_core::place
