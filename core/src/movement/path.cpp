#include "movement/path.hpp"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "base/num.hpp"
#include "world/block.hpp"
#include "world/chunk.hpp"

namespace ostrel_core::path {
namespace {

bool is_passable(std::span<const MaterialId> passable, MaterialId m) {
  return std::binary_search(passable.begin(), passable.end(), m);
}

bool clear_cell(std::span<const MaterialId> passable, MaterialId m) {
  return m == material::kAir || is_passable(passable, m);
}

auto key(const OpenEntry& e) { return std::tuple{e.f, e.g, e.at.x, e.at.y, e.at.z}; }
// The heap's order: the least key on top.
bool after(const OpenEntry& a, const OpenEntry& b) { return key(a) > key(b); }

std::uint32_t across(BlockPos a, BlockPos b) {
  return static_cast<std::uint32_t>(std::abs(a.x - b.x) + std::abs(a.z - b.z));
}

// The bits of a Terrain cache entry.
constexpr std::uint8_t kPassableKnown = 1;
constexpr std::uint8_t kPassable = 2;
constexpr std::uint8_t kStandableKnown = 4;
constexpr std::uint8_t kStandable = 8;

// From start to goal, both included.
std::vector<BlockPos> retrace(const Scratch& scratch, BlockPos start, BlockPos goal) {
  std::vector<BlockPos> out{goal};
  while (out.back() != start) out.push_back(scratch.find(out.back())->from);
  std::reverse(out.begin(), out.end());
  return out;
}

constexpr std::size_t kFirstSlots = 4096;

}  // namespace

void Scratch::begin() {
  open_.clear();
  used_ = 0;
  if (++epoch_ == 0) {
    // After 2^32 searches: clear the table once so no old slot can pass for a new one.
    for (auto& s : slots_) s.epoch = 0;
    epoch_ = 1;
  }
}

std::size_t Scratch::home(BlockPos key) const {
  return coords::detail::hash3(key.x, key.y, key.z) & (slots_.size() - 1);
}

const Scratch::Slot* Scratch::find(BlockPos key) const {
  if (slots_.empty()) return nullptr;
  for (std::size_t i = home(key);; i = (i + 1) & (slots_.size() - 1)) {
    const Slot& s = slots_[i];
    if (s.epoch != epoch_) return nullptr;
    if (s.key == key) return &s;
  }
}

Scratch::Slot& Scratch::at(BlockPos key) {
  // At most half full, so a probe always meets a free slot.
  if (2 * (used_ + 1) > slots_.size()) grow();
  for (std::size_t i = home(key);; i = (i + 1) & (slots_.size() - 1)) {
    Slot& s = slots_[i];
    if (s.epoch != epoch_) {
      s = Slot{key, epoch_};
      ++used_;
      return s;
    }
    if (s.key == key) return s;
  }
}

void Scratch::grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(std::max(kFirstSlots, 2 * old.size()), Slot{});
  for (const Slot& s : old) {
    if (s.epoch != epoch_) continue;
    std::size_t i = home(s.key);
    while (slots_[i].epoch == epoch_) i = (i + 1) & (slots_.size() - 1);
    slots_[i] = s;
  }
}

std::uint32_t search_budget(std::uint32_t budget) {
  if (budget == 0) return kDefaultBudget;
  return std::min(budget, kMaxBudget);
}

std::int32_t clamp_height(std::int32_t height) { return std::clamp(height, 1, kMaxReach); }

std::int32_t clamp_reach(std::int32_t blocks) { return std::clamp(blocks, 0, kMaxReach); }

std::string_view reason(PathFailure f) {
  switch (f) {
    case PathFailure::Unreachable:
      return "unreachable";
    case PathFailure::OverBudget:
      return "budget";
    case PathFailure::NoWorld:
      return "no world";
  }
  return "unreachable";
}

bool floor_is_clear(const phys::voxels::Resident* chunks, std::span<const MaterialId> passable,
                    BlockPos block) {
  return floor_is_clear(chunks == nullptr ? nullptr : chunks->resident(block.chunk()), passable, block);
}

bool floor_is_clear(const chunk::Chunk* c, std::span<const MaterialId> passable, BlockPos block) {
  if (c == nullptr) return false;
  const auto view = c->get_block_local(block.local());
  switch (view.kind()) {
    case block::Kind::Whole:
      return clear_cell(passable, view.material());
    case block::Kind::Partial:
      return clear_cell(passable, view.material()) || (view.mask() & kBottomLayer) == 0;
    case block::Kind::Mixed: {
      const auto& cells = view.mixed_cells();
      for (std::size_t i = 0; i < cells.size(); ++i) {
        if (((kBottomLayer >> i) & 1u) != 0 && !clear_cell(passable, cells[i])) return false;
      }
      return true;
    }
  }
  return false;
}

bool Terrain::passable(BlockPos block) {
  Scratch::Slot& s = scratch_.at(block);
  if ((s.known & kPassableKnown) == 0) {
    // The chunk lookup adds no slot, so `s` stays valid.
    const bool clear = floor_is_clear(chunk_at(block.chunk()), passable_, block);
    s.known |= clear ? kPassableKnown | kPassable : kPassableKnown;
  }
  return (s.known & kPassable) != 0;
}

const chunk::Chunk* Terrain::chunk_at(coords::ChunkPos pos) {
  if (last_pos_ != pos) {
    last_pos_ = pos;
    last_chunk_ = chunks_ == nullptr ? nullptr : chunks_->resident(pos);
  }
  return last_chunk_;
}

bool Terrain::standable(BlockPos block) {
  if (!in_world(block)) return false;
  const std::uint8_t known = scratch_.at(block).known;
  if ((known & kStandableKnown) != 0) return (known & kStandable) != 0;
  bool ok = passable(block);
  for (std::int32_t i = 1; i < height_ && ok; ++i) {
    ok = passable(BlockPos{block.x, block.y + i, block.z});
  }
  // In the world, so y - 1 and y + 15 stay far from the 32-bit limits.
  if (ok) ok = !passable(BlockPos{block.x, block.y - 1, block.z});
  // Looked up again: the tests above may have moved the table.
  scratch_.at(block).known |= ok ? kStandableKnown | kStandable : kStandableKnown;
  return ok;
}

Searched search(Terrain& terrain, BlockPos start, BlockPos goal, std::uint32_t budget, std::int32_t step_up,
                std::int32_t max_drop) {
  const std::int32_t up = clamp_reach(step_up);
  const std::int32_t down = clamp_reach(max_drop);
  // 0, +1, -1, +2, -2...: a rise before a fall of the same size.
  std::vector<std::int32_t> moves{0};
  for (std::int32_t k = 1; k <= std::max(up, down); ++k) {
    if (k <= up) moves.push_back(k);
    if (k <= down) moves.push_back(-k);
  }
  constexpr std::array<std::array<std::int32_t, 2>, 4> kDirections{{{1, 0}, {-1, 0}, {0, 1}, {0, -1}}};

  Scratch& scratch = terrain.scratch();
  std::vector<OpenEntry>& open = scratch.open();
  const auto push = [&](OpenEntry e) {
    open.push_back(e);
    std::push_heap(open.begin(), open.end(), after);
  };
  push(OpenEntry{across(start, goal), 0, start});
  {
    Scratch::Slot& s = scratch.at(start);
    s.reached = true;
    s.g = 0;
    s.from = start;
  }
  std::uint32_t expansions = 0;
  while (!open.empty()) {
    std::pop_heap(open.begin(), open.end(), after);
    const OpenEntry cur = open.back();
    open.pop_back();
    if (cur.at == goal) return {retrace(scratch, start, goal), expansions, cur.g};
    if (cur.g > scratch.find(cur.at)->g) continue;
    if (expansions == budget) return {std::unexpected(PathFailure::OverBudget), budget + 1};

    std::array<std::optional<std::pair<BlockPos, std::uint32_t>>, 4> next{};
    // Room above the head to climb: asked once per expansion, and only when a rise is tried.
    const BlockPos above{cur.at.x, cur.at.y + terrain.height(), cur.at.z};
    std::optional<bool> headroom;
    for (std::size_t d = 0; d < kDirections.size(); ++d) {
      for (const std::int32_t dy : moves) {
        if (dy > 0) {
          if (!headroom) headroom = terrain.passable(above);
          if (!*headroom) continue;
        }
        const BlockPos n{cur.at.x + kDirections[d][0], cur.at.y + dy, cur.at.z + kDirections[d][1]};
        if (!terrain.standable(n)) continue;
        next[d] = std::pair{n, 1u + static_cast<std::uint32_t>(std::abs(dy))};
        break;
      }
    }
    ++expansions;
    for (const auto& n : next) {
      if (!n) continue;
      const std::uint32_t g = cur.g + n->second;
      Scratch::Slot& s = scratch.at(n->first);
      if (s.reached && g >= s.g) continue;
      s.reached = true;
      s.g = g;
      s.from = cur.at;
      push(OpenEntry{g + across(n->first, goal), g, n->first});
    }
  }
  return {std::unexpected(PathFailure::Unreachable), expansions};
}

Steering steer(const phys::voxels::Resident* chunks, std::span<const MaterialId> passable, const Vec3d& from,
               const Vec3d& to, std::int32_t height) {
  Steering out;
  for (int a = 0; a < 3; ++a) {
    if (!std::isfinite(from[a]) || !std::isfinite(to[a])) return out;
  }
  const double dx = to[0] - from[0];
  const double dz = to[2] - from[2];
  // Far-apart ends can overflow the difference: no direction then.
  if (!std::isfinite(dx) || !std::isfinite(dz)) return out;
  const double across2 = dx * dx + dz * dz;
  if (across2 <= kArrivedSquared) {
    out.arrived = true;
    return out;
  }
  const double len = std::isfinite(across2) ? std::sqrt(across2) : std::hypot(dx, dz);
  const double ux = dx / len;
  const double uz = dz / len;
  out.drive_x = static_cast<float>(ux);
  out.drive_z = static_cast<float>(uz);
  const std::array<double, 3> probe{from[0] + 0.5 * ux, from[1], from[2] + 0.5 * uz};
  std::array<float, 3> pf{};
  std::array<std::int32_t, 3> b{};
  for (int a = 0; a < 3; ++a) {
    pf[a] = static_cast<float>(probe[a]);
    b[a] = num::saturate_floor<std::int32_t>(pf[a]);
  }
  const BlockPos probe_block{b[0], b[1], b[2]};
  if (!in_world(probe_block) || chunks == nullptr) return out;
  const auto column = [](float v) {
    const float frac = v - std::floor(v);
    return std::min(num::saturate_floor<std::int32_t>(frac * 3.0f), 2);
  };
  const std::int32_t cx = column(pf[0]);
  const std::int32_t cz = column(pf[2]);

  // The highest top, in cells, of a blocking cell in the probe's column of two blocks.
  std::optional<std::int64_t> ledge;
  for (std::int32_t k = 0; k < 2; ++k) {
    const BlockPos at{b[0], b[1] + k, b[2]};
    const chunk::Chunk* c = chunks->resident(at.chunk());
    if (c == nullptr) continue;
    const auto view = c->get_block_local(at.local());
    for (std::int32_t cy = 2; cy >= 0; --cy) {
      const MaterialId m = view.cell(static_cast<std::size_t>(cx + 3 * cy + 9 * cz));
      if (clear_cell(passable, m)) continue;
      const std::int64_t top = 3 * std::int64_t{at.y} + cy + 1;
      if (!ledge || top > *ledge) ledge = top;
      break;
    }
  }
  if (!ledge) return out;
  const double rise = std::max(static_cast<double>(*ledge) - 3.0 * from[1], 0.0);
  if (rise <= 1.0000000596046448) return out;
  if (!in_world(b[1] + 1)) return out;
  const std::int32_t h = clamp_height(height);
  for (std::int32_t i = 0; i < h; ++i) {
    if (!floor_is_clear(chunks, passable, BlockPos{b[0], b[1] + 1 + i, b[2]})) return out;
  }
  out.jump = !floor_is_clear(chunks, passable, probe_block);
  return out;
}

}  // namespace ostrel_core::path
