#include "detgen/shapes.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/num.hpp"
#include "detgen/fp.hpp"
#include "detgen/noise_lattice.hpp"

namespace ostrel_core::detgen::shapes {
namespace {

// The cells visited along one axis: the interval [lo, hi] in blocks widened by `margin`.
struct Range {
  std::int64_t first;
  std::int64_t last;  // inclusive; below `first` when empty
  // Saturating: a range of saturated ends holds 2^64 cells, which does not fit.
  std::uint64_t count() const {
    if (last < first) return 0;
    const std::uint64_t d = static_cast<std::uint64_t>(last) - static_cast<std::uint64_t>(first);
    return d == std::numeric_limits<std::uint64_t>::max() ? d : d + 1;
  }
};

Range cell_range(double lo, double hi, double margin) {
  return {num::saturate_floor<std::int64_t>((lo - margin) * 3.0 - 0.5),
          num::saturate_floor<std::int64_t>((hi + margin) * 3.0 - 0.5)};
}

// A cell's roughness step, -4..=4, from its coordinates alone: the noise lattice's hash of the
// 64-bit patterns with seed 0.
std::int64_t rough_step(std::int64_t cx, std::int64_t cy, std::int64_t cz) {
  using namespace noise::lattice;  // NOLINT: the hash's constants
  const std::uint64_t h = finish_hash((static_cast<std::uint64_t>(cx) * kKx) ^
                                      (static_cast<std::uint64_t>(cy) * kKy) ^
                                      (static_cast<std::uint64_t>(cz) * kKz));
  return static_cast<std::int64_t>(h % 9) - 4;
}

double rough_factor(double rough, std::int64_t cx, std::int64_t cy, std::int64_t cz) {
  if (rough == 0.0) return 1.0;
  return (rough * static_cast<double>(rough_step(cx, cy, cz))) * 0.25 + 1.0;
}

double centre(std::int64_t c) { return (static_cast<double>(c) + 0.5) / 3.0; }

// The boxes a shape visits, each three cell ranges, handed to `visit` in shape order.
template <class Visit>
void boxes(const Shape& shape, Visit visit) {
  if (const auto* p = std::get_if<Path>(&shape.kind)) {
    for (std::size_t i = 0; i + 1 < p->points.size(); ++i) {
      const auto& a = p->points[i];
      const auto& b = p->points[i + 1];
      const double m = (std::fabs(p->rough) + 1.0) * std::fmax(a[3], b[3]) + 0.01;
      visit(cell_range(std::fmin(a[0], b[0]), std::fmax(a[0], b[0]), m),
            cell_range(std::fmin(a[1], b[1]), std::fmax(a[1], b[1]), m),
            cell_range(std::fmin(a[2], b[2]), std::fmax(a[2], b[2]), m));
    }
  } else if (const auto* e = std::get_if<Ellipsoid>(&shape.kind)) {
    const double f = std::fabs(e->rough) + 1.0;
    visit(cell_range(e->centre[0], e->centre[0], e->radii[0] * f),
          cell_range(e->centre[1], e->centre[1], e->radii[1] * f),
          cell_range(e->centre[2], e->centre[2], e->radii[2] * f));
  } else {
    const auto& c = std::get<Cells>(shape.kind);
    const auto at = [&](int axis) { return static_cast<std::int64_t>(c.at[axis]) * 3; };
    visit(Range{at(0), at(0) + 2}, Range{at(1), at(1) + 2}, Range{at(2), at(2) + 2});
  }
}

std::uint64_t saturating_product(std::uint64_t a, std::uint64_t b) {
  std::uint64_t r;
  return __builtin_mul_overflow(a, b, &r) ? std::numeric_limits<std::uint64_t>::max() : r;
}

// floor(cell / 3), for every int64.
std::int64_t block_of(std::int64_t cell) { return cell / 3 - ((cell % 3 < 0) ? 1 : 0); }

void write_path(Raster& r, const Shape& s, const Path& p) {
  for (std::size_t i = 0; i + 1 < p.points.size(); ++i) {
    const auto& [x0, y0, z0, r0] = p.points[i];
    const auto& [x1, y1, z1, r1] = p.points[i + 1];
    const double m = (std::fabs(p.rough) + 1.0) * std::fmax(r0, r1) + 0.01;
    const Range rx = cell_range(std::fmin(x0, x1), std::fmax(x0, x1), m);
    const Range ry = cell_range(std::fmin(y0, y1), std::fmax(y0, y1), m);
    const Range rz = cell_range(std::fmin(z0, z1), std::fmax(z0, z1), m);
    if (rx.count() == 0 || ry.count() == 0) continue;
    const double dx = x1 - x0, dy = y1 - y0, dz = z1 - z0, dr = r1 - r0;
    const double len2 = (dx * dx + dy * dy) + dz * dz;
    for (std::int64_t cz = rz.first; cz <= rz.last; ++cz) {
      const double pz = centre(cz) - z0;
      for (std::int64_t cy = ry.first; cy <= ry.last; ++cy) {
        const double py = centre(cy) - y0;
        for (std::int64_t cx = rx.first; cx <= rx.last; ++cx) {
          const double px = centre(cx) - x0;
          double t = 0.0;
          if (!(len2 <= 0.0)) {
            t = (dz * pz + (dy * py + dx * px)) / len2;
            if (t < 0.0) t = 0.0;
            if (t > 1.0) t = 1.0;
          }
          const double ex = px - dx * t, ey = py - dy * t, ez = pz - dz * t;
          const double radius = (r0 + dr * t) * rough_factor(p.rough, cx, cy, cz);
          if ((ex * ex + ey * ey) + ez * ez <= radius * radius) r.put(cx, cy, cz, s.material, s.priority);
        }
      }
    }
  }
}

void write_ellipsoid(Raster& r, const Shape& s, const Ellipsoid& e) {
  const double f = std::fabs(e.rough) + 1.0;
  const Range rx = cell_range(e.centre[0], e.centre[0], e.radii[0] * f);
  const Range ry = cell_range(e.centre[1], e.centre[1], e.radii[1] * f);
  const Range rz = cell_range(e.centre[2], e.centre[2], e.radii[2] * f);
  for (std::int64_t cz = rz.first; cz <= rz.last; ++cz) {
    const double tz = (centre(cz) - e.centre[2]) / e.radii[2];
    for (std::int64_t cy = ry.first; cy <= ry.last; ++cy) {
      const double ty = (centre(cy) - e.centre[1]) / e.radii[1];
      for (std::int64_t cx = rx.first; cx <= rx.last; ++cx) {
        const double tx = (centre(cx) - e.centre[0]) / e.radii[0];
        const double d = tz * tz + (ty * ty + tx * tx);
        const double limit = e.rough == 0.0 ? 1.0 : rough_factor(e.rough, cx, cy, cz);
        if (d <= limit) r.put(cx, cy, cz, s.material, s.priority);
      }
    }
  }
}

void write_cells(Raster& r, const Shape& s, const Cells& c) {
  const std::int64_t bx = c.at[0], by = c.at[1], bz = c.at[2];
  for (std::int64_t k = 0; k < 27; ++k) {
    if ((c.mask >> k) & 1u)
      r.put(3 * bx + k % 3, 3 * by + (k / 3) % 3, 3 * bz + k / 9, s.material, s.priority);
  }
}

}  // namespace

Extent extent(const Shape& shape) {
  Extent out;
  boxes(shape, [&](Range x, Range y, Range z) {
    const std::uint64_t n = saturating_product(saturating_product(x.count(), y.count()), z.count());
    if (n == 0) return;
    out.cells = out.cells > std::numeric_limits<std::uint64_t>::max() - n
                    ? std::numeric_limits<std::uint64_t>::max()
                    : out.cells + n;
    const Range r[3] = {x, y, z};
    for (int a = 0; a < 3; ++a) {
      const std::int64_t lo = block_of(r[a].first), hi = block_of(r[a].last);
      out.low[a] = out.empty ? lo : std::min(out.low[a], lo);
      out.high[a] = out.empty ? hi : std::max(out.high[a], hi);
    }
    out.empty = false;
  });
  return out;
}

void Raster::put(std::int64_t cx, std::int64_t cy, std::int64_t cz, std::uint16_t material,
                 std::int32_t priority) {
  auto block = [](std::int64_t c) { return num::clamp_i32(block_of(c)); };
  auto sub = [](std::int64_t c) { return ((c % 3) + 3) % 3; };
  Block& b = blocks_[coords::BlockPos{block(cx), block(cy), block(cz)}];
  const auto k = static_cast<std::size_t>(sub(cx) + 3 * sub(cy) + 9 * sub(cz));
  const std::uint32_t bit = 1u << k;
  if ((b.occupied & bit) != 0 && b.priority[k] > priority) return;
  b.occupied |= bit;
  b.material[k] = material;
  b.priority[k] = priority;
}

buffer::Schematic Raster::schematic() const {
  std::vector<const std::pair<const coords::BlockPos, Block>*> order;
  order.reserve(blocks_.size());
  for (const auto& entry : blocks_) order.push_back(&entry);
  std::sort(order.begin(), order.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
  std::vector<buffer::StampBlock> out;
  for (const auto* entry : order) {
    const Block& b = entry->second;
    // Materials in the order of their lowest cell, each with its mask.
    std::array<std::uint16_t, 27> materials{};
    std::array<std::uint32_t, 27> masks{};
    std::size_t n = 0;
    for (std::size_t k = 0; k < 27; ++k) {
      if (((b.occupied >> k) & 1u) == 0) continue;
      std::size_t i = 0;
      while (i < n && materials[i] != b.material[k]) ++i;
      if (i == n) materials[n++] = b.material[k];
      masks[i] |= 1u << k;
    }
    for (std::size_t i = 0; i < n; ++i) {
      out.push_back({entry->first.x, entry->first.y, entry->first.z, materials[i], masks[i]});
    }
  }
  return buffer::Schematic::of(std::move(out));
}

buffer::Schematic rasterise(std::span<const Shape> shapes) {
  Raster r;
  for (const Shape& s : shapes) {
    if (const auto* p = std::get_if<Path>(&s.kind)) {
      write_path(r, s, *p);
    } else if (const auto* e = std::get_if<Ellipsoid>(&s.kind)) {
      write_ellipsoid(r, s, *e);
    } else {
      write_cells(r, s, std::get<Cells>(s.kind));
    }
  }
  return r.schematic();
}

}  // namespace ostrel_core::detgen::shapes
