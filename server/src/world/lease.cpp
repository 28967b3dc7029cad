#include "world/lease.hpp"

#include <algorithm>
#include <cmath>

#include "base/num.hpp"
#include "movement/path.hpp"

namespace ostrel_server::lease {
namespace {

using ostrel_core::num::saturate;
using ostrel_core::num::saturate_floor;

// c = floor(f32(v / 16)); l = f32((v - 16c) * 3) / 3 in f32; the block is 16c + floor(l).
std::int32_t block_axis(double v) {
  const auto c = saturate_floor<std::int32_t>(static_cast<float>(v / 16.0));
  const float l = static_cast<float>((v - 16.0 * static_cast<double>(c)) * 3.0) / 3.0f;
  const std::int64_t block = std::int64_t{16} * c + saturate_floor<std::int32_t>(l);
  return saturate<std::int32_t>(static_cast<double>(block));
}

}  // namespace

void PathBudget::spend(std::uint32_t steps) {
  std::uint32_t seen = steps_.load();
  while (!steps_.compare_exchange_weak(seen, seen > steps ? seen - steps : 0)) {
  }
}

Lease::Lease()
    : world_(std::make_shared<WorldSlot>()),
      path_budget_(std::make_shared<PathBudget>()),
      path_scratch_(std::make_shared<PathScratchLock>()),
      terrain_(std::make_shared<const std::vector<std::uint16_t>>()) {}

Lease Lease::with_terrain(std::vector<std::uint16_t> terrain, std::shared_ptr<PondsLock> ponds) const {
  std::sort(terrain.begin(), terrain.end());
  Lease out = *this;
  out.ponds_ = std::move(ponds);
  out.terrain_ = std::make_shared<const std::vector<std::uint16_t>>(std::move(terrain));
  return out;
}

bool Lease::passable(std::uint16_t material) const {
  return std::binary_search(terrain_->begin(), terrain_->end(), material);
}

std::optional<ostrel_core::coords::BlockPos> block_of(double x, double y, double z) {
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return std::nullopt;
  return ostrel_core::coords::BlockPos{block_axis(x), block_axis(y), block_axis(z)};
}

}  // namespace ostrel_server::lease
