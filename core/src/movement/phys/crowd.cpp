#include "movement/phys/crowd.hpp"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "base/num.hpp"

namespace ostrel_core::phys::crowd {

namespace {

constexpr float kSameSpot = 1.1920929e-7f;  // 2^-23: closer than this, bodies share a spot

// A body far outside any chunk, or of an absurd width, is compared with every other one; the
// grid only holds bodies whose float offsets stay within a fraction of a cell of the truth.
constexpr float kGridLocal = 1.0e6f;   // cells
constexpr float kGridWidth = 4096.0f;  // cells
// Slack added to the widest reach so that rounding can never hide a pair in a far bucket.
constexpr float kGridSlack = 1.0f;  // cells

// (chunk_b - chunk_a) * 48 in cells, formed in 64 bits and rounded once.
float chunk_offset(std::int32_t b, std::int32_t a) {
  return static_cast<float>((static_cast<std::int64_t>(b) - a) * coords::kSubNodesPerChunkAxis);
}

struct PairPush {
  bool acts = false;
  float nx = 0.0f;
  float nz = 0.0f;
  float s = 0.0f;
};

// The push between i and j, i < j, measured in i's frame; `acts` is false for a skipped pair.
PairPush measure(const Occupant& i, const Occupant& j) {
  if (!i.pushable && !j.pushable) return {};
  if (i.domain != j.domain) return {};
  const float dx = j.local[0] + chunk_offset(j.chunk.x, i.chunk.x) - i.local[0];
  const float dz = j.local[2] + chunk_offset(j.chunk.z, i.chunk.z) - i.local[2];
  const float yj = j.local[1] + chunk_offset(j.chunk.y, i.chunk.y);
  const float r = (j.width + i.width) * 0.5f * 0.9f;
  // A body with a position that is not a number, or of endless width, would push every other
  // body of the domain (or push by NaN): such a pair is passed over.
  if (std::isnan(dx) || std::isnan(dz) || !std::isfinite(r)) return {};
  if (std::fabs(dz) >= r && std::fabs(dx) >= r) return {};
  float d = std::sqrt(dx * dx + dz * dz);
  const bool heights = yj < i.local[1] + i.height && i.local[1] < yj + j.height;
  PairPush p;
  if (d > kSameSpot) {
    if (!(d < r && heights)) return {};
    p.nx = dx / d;
    p.nz = dz / d;
  } else {
    if (!(r > 0.0f && heights)) return {};
    p.nx = 1.0f;
    p.nz = 0.0f;
    d = 0.0f;
  }
  p.s = std::min((r - d) / r * kPairPush, kPairPush);
  p.acts = true;
  return p;
}

bool on_grid(const Occupant& o) {
  return std::fabs(o.local[0]) <= kGridLocal && std::fabs(o.local[2]) <= kGridLocal &&
         std::fabs(o.width) <= kGridWidth;  // false for NaN as well
}

struct Cell {
  std::uint32_t domain;
  std::int64_t x;
  std::int64_t z;
  std::size_t index;
  friend bool operator<(const Cell& a, const Cell& b) {
    return std::tie(a.domain, a.x, a.z, a.index) < std::tie(b.domain, b.x, b.z, b.index);
  }
};

std::int64_t bucket(std::int32_t chunk, float local, double size) {
  const double world = static_cast<double>(chunk) * coords::kSubNodesPerChunkAxis + local;
  return num::saturate_floor<std::int64_t>(world / size);
}

void cap(Vec3& push) {
  const float len = std::sqrt(push[0] * push[0] + push[2] * push[2]);
  if (len > kMaxPush) {
    const float f = kMaxPush / len;
    push[0] *= f;
    push[2] *= f;
  }
}

}  // namespace

std::vector<Vec3> separate(std::span<const Occupant> occupants) {
  const std::size_t n = occupants.size();
  std::vector<Vec3> pushes(n, Vec3{0.0f, 0.0f, 0.0f});
  if (n < 2) return pushes;

  // Buckets no narrower than the widest reach, so a pair that can touch lies in adjacent ones.
  float widest = 0.0f;
  for (const Occupant& o : occupants) {
    if (on_grid(o)) widest = std::max(widest, o.width);
  }
  const double size = static_cast<double>(widest) * 0.9 + kGridSlack;
  std::vector<Cell> cells;
  std::vector<std::size_t> off_grid;
  cells.reserve(n);
  for (std::size_t k = 0; k < n; ++k) {
    const Occupant& o = occupants[k];
    if (on_grid(o)) {
      cells.push_back(
          {o.domain, bucket(o.chunk.x, o.local[0], size), bucket(o.chunk.z, o.local[2], size), k});
    } else {
      off_grid.push_back(k);
    }
  }
  std::sort(cells.begin(), cells.end());

  // Adds the pushes of `k` against every partner, ascending: the pairs (p, k) with p < k come
  // first, as in the plain pair scan.
  auto push_against = [&](std::size_t k, const std::vector<std::size_t>& partners) {
    const Occupant& self = occupants[k];
    for (std::size_t p : partners) {
      if (p == k) continue;
      const bool first = k < p;
      const PairPush m = first ? measure(self, occupants[p]) : measure(occupants[p], self);
      if (!m.acts) continue;
      if (first) {
        pushes[k][0] -= m.nx * m.s;
        pushes[k][2] -= m.nz * m.s;
      } else {
        pushes[k][0] += m.nx * m.s;
        pushes[k][2] += m.nz * m.s;
      }
    }
  };

  // Bucket by bucket: the occupants of the 3 x 3 buckets around it, plus every one off the grid.
  std::vector<std::size_t> partners;
  for (auto run = cells.begin(); run != cells.end();) {
    auto run_end = run;
    while (run_end != cells.end() && run_end->domain == run->domain && run_end->x == run->x &&
           run_end->z == run->z) {
      ++run_end;
    }
    partners.assign(off_grid.begin(), off_grid.end());
    for (std::int64_t dx = -1; dx <= 1; ++dx) {
      const Cell from{run->domain, run->x + dx, run->z - 1, 0};
      for (auto it = std::lower_bound(cells.begin(), cells.end(), from);
           it != cells.end() && it->domain == from.domain && it->x == from.x && it->z <= run->z + 1; ++it) {
        partners.push_back(it->index);
      }
    }
    std::sort(partners.begin(), partners.end());
    for (auto it = run; it != run_end; ++it) {
      if (occupants[it->index].pushable) push_against(it->index, partners);
    }
    run = run_end;
  }
  // Off the grid, every other occupant is a partner.
  if (!off_grid.empty()) {
    partners.resize(n);
    for (std::size_t p = 0; p < n; ++p) partners[p] = p;
    for (std::size_t k : off_grid) {
      if (occupants[k].pushable) push_against(k, partners);
    }
  }
  for (Vec3& push : pushes) cap(push);
  return pushes;
}

}  // namespace ostrel_core::phys::crowd
