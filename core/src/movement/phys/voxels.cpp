#include "movement/phys/voxels.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/num.hpp"

namespace ostrel_core::phys::voxels {

namespace {

constexpr std::int64_t kCellsPerChunk = coords::kSubNodesPerChunkAxis;  // 48
constexpr std::int64_t kBlocksPerChunk = coords::kChunkSize;            // 16

constexpr std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if (a % b != 0 && a < 0) --q;
  return q;
}

constexpr bool fits_i32(std::int64_t v) {
  return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
}

}  // namespace

Terrain Terrain::of(std::vector<MaterialId> passable, std::vector<std::pair<MaterialId, float>> friction) {
  std::sort(passable.begin(), passable.end());
  passable.erase(std::unique(passable.begin(), passable.end()), passable.end());
  std::stable_sort(friction.begin(), friction.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  friction.erase(std::unique(friction.begin(), friction.end(),
                             [](const auto& a, const auto& b) { return a.first == b.first; }),
                 friction.end());
  for (auto& [id, f] : friction) f = std::isnan(f) ? 1.0f : std::clamp(f, 0.0f, 1.0f);
  return Terrain{std::move(passable), std::move(friction)};
}

bool Terrain::is_passable(MaterialId m) const {
  return std::binary_search(passable.begin(), passable.end(), m);
}

float Terrain::friction_of(MaterialId m) const {
  auto it = std::lower_bound(friction.begin(), friction.end(), m,
                             [](const auto& entry, MaterialId id) { return entry.first < id; });
  return it != friction.end() && it->first == m ? it->second : 1.0f;
}

void Voxels::note_absent(ChunkPos pos) const {
  touched_absent_ = true;
  const auto end = absent_.begin() + static_cast<std::ptrdiff_t>(absent_count_);
  if (absent_count_ < kMaxAbsent && std::find(absent_.begin(), end, pos) == end) {
    absent_[absent_count_++] = pos;
  }
}

const chunk::Chunk* Voxels::chunk_at(std::int64_t cx, std::int64_t cy, std::int64_t cz) const {
  if (!fits_i32(cx) || !fits_i32(cy) || !fits_i32(cz)) {
    note_absent({num::clamp_i32(cx), num::clamp_i32(cy), num::clamp_i32(cz)});
    return nullptr;
  }
  const ChunkPos pos{static_cast<std::int32_t>(cx), static_cast<std::int32_t>(cy),
                     static_cast<std::int32_t>(cz)};
  if (!cached_ || cached_pos_ != pos) {
    cached_ = true;
    cached_pos_ = pos;
    cached_chunk_ = world_->resident(pos);
  }
  if (!cached_chunk_) note_absent(pos);
  return cached_chunk_;
}

std::optional<MaterialId> Voxels::material(std::int64_t x, std::int64_t y, std::int64_t z) const {
  const std::int64_t wx = x + kCellsPerChunk * origin_.x;
  const std::int64_t wy = y + kCellsPerChunk * origin_.y;
  const std::int64_t wz = z + kCellsPerChunk * origin_.z;
  const std::int64_t cx = floor_div(wx, kCellsPerChunk), cy = floor_div(wy, kCellsPerChunk),
                     cz = floor_div(wz, kCellsPerChunk);
  const chunk::Chunk* c = chunk_at(cx, cy, cz);
  if (!c) return std::nullopt;
  // Cells within the chunk, 0..47 on each axis.
  const auto lx = static_cast<std::uint8_t>(wx - cx * kCellsPerChunk);
  const auto ly = static_cast<std::uint8_t>(wy - cy * kCellsPerChunk);
  const auto lz = static_cast<std::uint8_t>(wz - cz * kCellsPerChunk);
  const coords::LocalPos block{static_cast<std::uint8_t>(lx / 3), static_cast<std::uint8_t>(ly / 3),
                               static_cast<std::uint8_t>(lz / 3)};
  const coords::CellPos cell{static_cast<std::uint8_t>(lx % 3), static_cast<std::uint8_t>(ly % 3),
                             static_cast<std::uint8_t>(lz % 3)};
  return c->get_block_local(block).cell(cell.index());
}

bool Voxels::solid(std::int64_t x, std::int64_t y, std::int64_t z) const {
  const auto m = material(x, y, z);
  return !m || *m != 0;
}

bool Voxels::blocked(std::int64_t x, std::int64_t y, std::int64_t z) const {
  const auto m = material(x, y, z);
  return !m || (*m != 0 && !terrain_->is_passable(*m));
}

std::uint16_t Voxels::fluid(std::int64_t bx, std::int64_t by, std::int64_t bz) const {
  if (!fluids_) return 0;
  const std::int64_t wx = bx + kBlocksPerChunk * origin_.x;
  const std::int64_t wy = by + kBlocksPerChunk * origin_.y;
  const std::int64_t wz = bz + kBlocksPerChunk * origin_.z;
  if (!fits_i32(wx) || !fits_i32(wy) || !fits_i32(wz)) return 0;
  return fluids_
      ->at(BlockPos{static_cast<std::int32_t>(wx), static_cast<std::int32_t>(wy),
                    static_cast<std::int32_t>(wz)})
      .bits;
}

}  // namespace ostrel_core::phys::voxels
