// Evaluation and interval bounds of a compiled density program.

#include <algorithm>
#include <cmath>
#include <limits>

#include "detgen/density.hpp"
#include "detgen/fp.hpp"

namespace ostrel_core::detgen::density {
namespace {

using fp::max_num;
using fp::min_num;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kContourCap = 256.0f;       // blocks
constexpr float kFlatGradient = 0x1p-23f;   // below this the contour counts as far away
constexpr float kUnitAmplitude = 0x1p-23f;  // a noise amplitude this close to 1 is not applied

float at(float origin, float step, std::size_t index) { return origin + step * static_cast<float>(index); }

// One value of the plane (ix, iz) copied to every y of its column.
void spread_columns(const noise::Grid3& g, std::span<const float> plane, std::span<float> dst) {
  std::size_t k = 0;
  for (std::size_t iz = 0; iz < g.nz; ++iz) {
    const float* row = plane.data() + iz * g.nx;
    for (std::size_t iy = 0; iy < g.ny; ++iy) {
      std::copy(row, row + g.nx, dst.data() + k);
      k += g.nx;
    }
  }
}

// The ground plane y = 0 under the grid, shifted by (dx, dz).
noise::Grid3 ground(const noise::Grid3& g, float dx, float dz) {
  return {g.nx, 1, g.nz, g.x0 + dx, 0.0f, g.z0 + dz, g.step};
}

void fill_coord(const noise::Grid3& g, std::uint8_t axis, std::span<float> dst) {
  std::size_t k = 0;
  for (std::size_t iz = 0; iz < g.nz; ++iz) {
    const float z = at(g.z0, g.step, iz);
    for (std::size_t iy = 0; iy < g.ny; ++iy) {
      const float y = at(g.y0, g.step, iy);
      for (std::size_t ix = 0; ix < g.nx; ++ix, ++k) {
        dst[k] = axis == 0 ? at(g.x0, g.step, ix) : (axis == 1 ? y : z);
      }
    }
  }
}

float clamp_sample(float v, float low, float high) {
  const float w = low > v ? low : v;
  return w > high ? high : w;
}

// One evaluation: the grid, its stack buffers and the scratch's plane buffers.
class Run {
 public:
  Run(std::uint64_t seed, const noise::Grid3& grid, std::span<std::vector<float>> stack,
      std::span<std::vector<float>> planes)
      : seed_(seed), g_(grid), stack_(stack), planes_(planes) {}

  // Computes `op` on a stack of depth d and returns the new depth.
  std::size_t step(const Op& op, std::size_t d) {
    return std::visit([&](const auto& alt) { return apply(alt, d); }, op.v);
  }

 private:
  std::size_t apply(const Op::Const& c, std::size_t d) {
    std::fill(stack_[d].begin(), stack_[d].end(), c.value);
    return d + 1;
  }
  std::size_t apply(const Op::Coord& c, std::size_t d) {
    fill_coord(g_, c.axis, stack_[d]);
    return d + 1;
  }
  std::size_t apply(const Op::Noise& n, std::size_t d) {
    std::span<float> dst = stack_[d];
    const float s[3] = {n.stretch[0], n.stretch[1], n.stretch[2]};
    const bool plain = s[0] == 1.0f && s[1] == 1.0f && s[2] == 1.0f;
    // The buffer matches the grid, so the fills cannot fail.
    if (plain) {
      (void)noise::fill_3d(seed_ ^ n.stream, g_, n.options, dst);
    } else {
      (void)noise::fill_3d_stretched(seed_ ^ n.stream, g_, n.options, s, dst);
    }
    if (std::fabs(n.amplitude - 1.0f) > kUnitAmplitude) {
      for (float& v : dst) v = v * n.amplitude;
    }
    return d + 1;
  }
  std::size_t apply(const Op::Noise2& n, std::size_t d) {
    std::span<float> plane = planes_[0];
    (void)noise::fill_3d(seed_ ^ n.stream, ground(g_, 0.0f, 0.0f), n.options, plane);
    for (float& v : plane) v = v * n.amplitude;
    spread_columns(g_, plane, stack_[d]);
    return d + 1;
  }
  std::size_t apply(const Op::Contour& c, std::size_t d) {
    constexpr float kOffsets[5][2] = {{0.0f, 0.0f}, {0.5f, 0.0f}, {-0.5f, 0.0f}, {0.0f, 0.5f}, {0.0f, -0.5f}};
    for (int i = 0; i < 5; ++i) {
      (void)noise::fill_3d(seed_ ^ c.stream, ground(g_, kOffsets[i][0], kOffsets[i][1]), c.options,
                           planes_[i]);
    }
    std::span<float> n = planes_[0];
    const float* xp = planes_[1].data();
    const float* xm = planes_[2].data();
    const float* zp = planes_[3].data();
    const float* zm = planes_[4].data();
    for (std::size_t k = 0; k < n.size(); ++k) {
      const float gx = xp[k] - xm[k];
      const float gz = zp[k] - zm[k];
      const float g = std::sqrt(gx * gx + gz * gz);
      float dist = g > kFlatGradient ? min_num(std::fabs(n[k]) / g, kContourCap) : kContourCap;
      if (c.is_signed && n[k] < 0.0f) dist = -dist;
      n[k] = dist;
    }
    spread_columns(g_, n, stack_[d]);
    return d + 1;
  }
  std::size_t apply(const Op::MapLookup& m, std::size_t d) {
    std::span<float> plane = planes_[0];
    std::size_t k = 0;
    for (std::size_t iz = 0; iz < g_.nz; ++iz) {
      const std::int32_t z = fp::floor_i32(at(g_.z0, g_.step, iz));
      for (std::size_t ix = 0; ix < g_.nx; ++ix) {
        plane[k++] = m.map->sample(fp::floor_i32(at(g_.x0, g_.step, ix)), z);
      }
    }
    spread_columns(g_, plane, stack_[d]);
    return d + 1;
  }
  template <class F>
  std::size_t binary(std::size_t d, F f) {
    float* a = stack_[d - 2].data();
    const float* b = stack_[d - 1].data();
    const std::size_t n = stack_[d - 2].size();
    for (std::size_t k = 0; k < n; ++k) a[k] = f(a[k], b[k]);
    return d - 1;
  }
  std::size_t apply(const Op::Add&, std::size_t d) {
    return binary(d, [](float a, float b) { return a + b; });
  }
  std::size_t apply(const Op::Sub&, std::size_t d) {
    return binary(d, [](float a, float b) { return a - b; });
  }
  std::size_t apply(const Op::Mul&, std::size_t d) {
    return binary(d, [](float a, float b) { return a * b; });
  }
  std::size_t apply(const Op::Div&, std::size_t d) {
    return binary(d, [](float a, float b) { return a / b; });
  }
  std::size_t apply(const Op::Min&, std::size_t d) { return binary(d, min_num); }
  std::size_t apply(const Op::Max&, std::size_t d) { return binary(d, max_num); }
  std::size_t apply(const Op::Abs&, std::size_t d) {
    for (float& v : stack_[d - 1]) v = fp::clear_sign(v);
    return d;
  }
  std::size_t apply(const Op::Clamp& c, std::size_t d) {
    for (float& v : stack_[d - 1]) v = clamp_sample(v, c.low, c.high);
    return d;
  }

  std::uint64_t seed_;
  noise::Grid3 g_;
  std::span<std::vector<float>> stack_;
  std::span<std::vector<float>> planes_;
};

// Planes (nx * nz samples) an operation needs.
std::size_t planes_for(const Op& op) {
  if (std::holds_alternative<Op::Contour>(op.v)) return 5;
  if (std::holds_alternative<Op::Noise2>(op.v) || std::holds_alternative<Op::MapLookup>(op.v)) return 1;
  return 0;
}

Interval ordered(float a, float b) { return {min_num(a, b), max_num(a, b)}; }

// The box a grid covers, per axis.
struct Box {
  Interval x, y, z;
};

Interval axis_range(float origin, float step, std::size_t count) {
  const float end = count == 0 ? origin : at(origin, step, count - 1);
  return ordered(origin, end);
}

Interval bound_of(const Op& op, const Box& box, std::uint64_t seed, const Interval* stack, std::size_t d) {
  const Interval a = d >= 2 ? stack[d - 2] : Interval{};
  const Interval b = d >= 1 ? stack[d - 1] : Interval{};
  return std::visit(
      [&](const auto& alt) -> Interval {
        using T = std::decay_t<decltype(alt)>;
        if constexpr (std::is_same_v<T, Op::Const>) {
          return {alt.value, alt.value};
        } else if constexpr (std::is_same_v<T, Op::Coord>) {
          return alt.axis == 0 ? box.x : (alt.axis == 1 ? box.y : box.z);
        } else if constexpr (std::is_same_v<T, Op::Noise>) {
          const auto& s = alt.stretch;
          const Interval r = noise::fractal_3d_bounds(seed ^ alt.stream, alt.options, box.x.low / s[0],
                                                      box.x.high / s[0], box.y.low / s[1], box.y.high / s[1],
                                                      box.z.low / s[2], box.z.high / s[2]);
          return ordered(r.low * alt.amplitude, r.high * alt.amplitude);
        } else if constexpr (std::is_same_v<T, Op::Noise2>) {
          const Interval r = noise::fractal_3d_bounds(seed ^ alt.stream, alt.options, box.x.low, box.x.high,
                                                      0.0f, 0.0f, box.z.low, box.z.high);
          return ordered(r.low * alt.amplitude, r.high * alt.amplitude);
        } else if constexpr (std::is_same_v<T, Op::Contour>) {
          return {alt.is_signed ? -kContourCap : 0.0f, kContourCap};
        } else if constexpr (std::is_same_v<T, Op::MapLookup>) {
          // A NaN sample makes evaluation yield NaN, which range_over passes over.
          if (alt.holds_nan) return {-kInf, kInf};
          return alt.map->range_over(fp::floor_i32(box.x.low), fp::floor_i32(box.x.high),
                                     fp::floor_i32(box.z.low), fp::floor_i32(box.z.high));
        } else if constexpr (std::is_same_v<T, Op::Add>) {
          return {a.low + b.low, a.high + b.high};
        } else if constexpr (std::is_same_v<T, Op::Sub>) {
          return {a.low - b.high, a.high - b.low};
        } else if constexpr (std::is_same_v<T, Op::Mul>) {
          const float e[4] = {a.low * b.low, a.low * b.high, a.high * b.low, a.high * b.high};
          return noise::hull(e);
        } else if constexpr (std::is_same_v<T, Op::Div>) {
          if (b.low <= 0.0f && 0.0f <= b.high) return {-kInf, kInf};
          const float r1 = 1.0f / b.low;
          const float r2 = 1.0f / b.high;
          const float e[4] = {a.low * r1, a.low * r2, a.high * r1, a.high * r2};
          return noise::hull(e);
        } else if constexpr (std::is_same_v<T, Op::Min>) {
          return {min_num(a.low, b.low), min_num(a.high, b.high)};
        } else if constexpr (std::is_same_v<T, Op::Max>) {
          return {max_num(a.low, b.low), max_num(a.high, b.high)};
        } else if constexpr (std::is_same_v<T, Op::Abs>) {
          const float l = std::fabs(b.low), h = std::fabs(b.high);
          const float low = (b.high >= 0.0f && b.low <= 0.0f) ? 0.0f : min_num(l, h);
          return {low, max_num(l, h)};
        } else {
          static_assert(std::is_same_v<T, Op::Clamp>);
          return {clamp_sample(b.low, alt.low, alt.high), clamp_sample(b.high, alt.low, alt.high)};
        }
      },
      op.v);
}

}  // namespace

std::expected<void, DensityError> Density::evaluate_with(std::uint64_t seed, const noise::Grid3& grid,
                                                         std::span<float> out, Scratch& scratch) const {
  const std::size_t n = noise::sample_count(grid);
  if (out.size() != n) {
    DensityError e{DensityErrorKind::Size};
    e.size = {out.size(), n};
    return std::unexpected(e);
  }
  if (n == 0) return {};
  std::size_t plane_count = 0;
  for (const Op& op : ops_) plane_count = std::max(plane_count, planes_for(op));
  auto stack = Scratch::grow_list(scratch.stack_, depth_, n);
  auto memo = Scratch::grow_list(scratch.memo_, plan_.slots, n);
  // nx * nz <= n, since ny >= 1 once n > 0.
  auto planes = Scratch::grow_list(scratch.plane_, plane_count, grid.nx * grid.nz);
  Run run(seed, grid, stack, planes);
  std::size_t d = 0;
  for (std::size_t k = 0; k < ops_.size(); ++k) {
    const Memo m = plan_.steps[k];
    if (m.kind == MemoKind::Reuse) {
      std::copy(memo[m.slot].begin(), memo[m.slot].end(), stack[d].begin());
      ++d;
      continue;
    }
    d = run.step(ops_[k], d);
    if (m.kind == MemoKind::Store) std::copy(stack[d - 1].begin(), stack[d - 1].end(), memo[m.slot].begin());
  }
  std::copy(stack[0].begin(), stack[0].end(), out.begin());
  return {};
}

Interval Density::bounds(std::uint64_t seed, const noise::Grid3& grid) const {
  const Box box{axis_range(grid.x0, grid.step, grid.nx), axis_range(grid.y0, grid.step, grid.ny),
                axis_range(grid.z0, grid.step, grid.nz)};
  Interval stack[kMaxBuffers];
  std::size_t d = 0;
  for (const Op& op : ops_) {
    const Interval r = bound_of(op, box, seed, stack, d);
    d = d - op.pops() + 1;
    stack[d - 1] = r;
  }
  if (d == 0) return {-kInf, kInf};
  const Interval top = stack[0];
  const float pad = max_num(std::fabs(top.low), std::fabs(top.high)) * 0x1p-12f + 1e-6f;
  return {top.low - pad, top.high + pad};
}

}  // namespace ostrel_core::detgen::density
