#pragma once
// 3D simplex noise four samples at a time, for the fills. Each lane runs exactly the operations
// of simplex_3d, in the same order, with the same roundings (vector arithmetic is IEEE per
// lane), so every lane equals the scalar result bit for bit; only the lattice hash runs per
// lane. Private to detgen.

#include <cstdint>

#include "detgen/noise_lattice.hpp"

namespace ostrel_core::detgen::noise::x4 {

using F4 = float __attribute__((vector_size(16)));
using I4 = std::int32_t __attribute__((vector_size(16)));
using U4 = std::uint32_t __attribute__((vector_size(16)));

inline F4 splat(float v) { return F4{v, v, v, v}; }

// Lane by lane: a where mask is all ones, b where it is zero.
inline F4 select(I4 mask, F4 a, F4 b) {
  return reinterpret_cast<F4>((reinterpret_cast<I4>(a) & mask) | (reinterpret_cast<I4>(b) & ~mask));
}

inline F4 abs(F4 v) { return reinterpret_cast<F4>(reinterpret_cast<I4>(v) & 0x7FFFFFFF); }

inline F4 clamp_coord(F4 v) {
  using lattice::kClamp;
  return select(v < -kClamp, splat(-kClamp), select(kClamp < v, splat(kClamp), v));
}

// floor of values within +-2^24 (clamped coordinates plus their skew); NaN gives 0, as
// fp::floor_i32 does.
inline I4 floor_small(F4 v) {
  const F4 v0 = select(v != v, splat(0.0f), v);
  const I4 t = __builtin_convertvector(v0, I4);      // truncation toward zero, in range
  return t + (__builtin_convertvector(t, F4) > v0);  // a true lane is -1
}

inline I4 wrap_add(I4 a, I4 b) {
  return reinterpret_cast<I4>(reinterpret_cast<U4>(a) + reinterpret_cast<U4>(b));
}

inline F4 corner(std::uint64_t seed, I4 a, I4 b, I4 c, F4 u, F4 v, F4 w) {
  const F4 tc = ((splat(lattice::kR3) - u * u) - v * v) - w * w;
  F4 gx, gy, gz;
  for (int l = 0; l < 4; ++l) {
    const std::uint64_t h =
        lattice::finish_hash(seed ^ (lattice::word(a[l]) * lattice::kKx) ^
                             (lattice::word(b[l]) * lattice::kKy) ^ (lattice::word(c[l]) * lattice::kKz));
    const float* g = lattice::kGrad3[h & 15];
    gx[l] = g[0];
    gy[l] = g[1];
    gz[l] = g[2];
  }
  const F4 term = ((tc * tc) * (tc * tc)) * ((u * gx + v * gy) + w * gz);
  return select(tc <= 0.0f, splat(0.0f), term);
}

inline F4 ones_where(I4 mask) { return select(mask, splat(1.0f), splat(0.0f)); }

inline F4 corner(std::uint64_t seed, I4 a, I4 b, F4 u, F4 w) {
  const F4 tc = (splat(lattice::kR2) - u * u) - w * w;
  F4 gx, gy;
  for (int l = 0; l < 4; ++l) {
    const std::uint64_t h = lattice::finish_hash(seed ^ (lattice::word(a[l]) * lattice::kKx) ^
                                                 (lattice::word(b[l]) * lattice::kKy));
    const float* g = lattice::kGrad2[h & 7];
    gx[l] = g[0];
    gy[l] = g[1];
  }
  const F4 term = ((tc * tc) * (tc * tc)) * (u * gx + w * gy);
  return select(tc <= 0.0f, splat(0.0f), term);
}

inline F4 simplex_2d(std::uint64_t seed, F4 x, F4 y) {
  using namespace lattice;  // NOLINT
  x = clamp_coord(x);
  y = clamp_coord(y);
  const F4 s = (x + y) * kF2;
  const I4 i = floor_small(x + s), j = floor_small(y + s);
  const F4 t = __builtin_convertvector(wrap_add(i, j), F4) * kG2;
  const F4 x0 = x - (__builtin_convertvector(i, F4) - t);
  const F4 y0 = y - (__builtin_convertvector(j, F4) - t);
  const I4 i1 = x0 > y0;  // a tie takes (0, 1)
  const I4 j1 = ~i1;
  const F4 x1 = (x0 - ones_where(i1)) + kG2, y1 = (y0 - ones_where(j1)) + kG2;
  const F4 x2 = (x0 - 1.0f) + k2G2, y2 = (y0 - 1.0f) + k2G2;
  const I4 one = I4{1, 1, 1, 1};
  const F4 a = corner(seed, i, j, x0, y0);
  const F4 b = corner(seed, wrap_add(i, -i1), wrap_add(j, -j1), x1, y1);
  const F4 c = corner(seed, wrap_add(i, one), wrap_add(j, one), x2, y2);
  return ((a + b) + c) * kScale2;
}

inline F4 simplex_3d(std::uint64_t seed, F4 x, F4 y, F4 z) {
  using namespace lattice;  // NOLINT
  x = clamp_coord(x);
  y = clamp_coord(y);
  z = clamp_coord(z);
  const F4 s = ((x + y) + z) * kF3;
  const I4 i = floor_small(x + s), j = floor_small(y + s), k = floor_small(z + s);
  const F4 t = __builtin_convertvector(wrap_add(wrap_add(i, j), k), F4) * kG3;
  const F4 x0 = x - (__builtin_convertvector(i, F4) - t);
  const F4 y0 = y - (__builtin_convertvector(j, F4) - t);
  const F4 z0 = z - (__builtin_convertvector(k, F4) - t);
  // Masks of the corner table as in simplex_3d (all ones for true).
  const I4 xy = x0 >= y0, yz = y0 >= z0, xz = x0 >= z0;
  const I4 i1 = xy & (yz | xz), j1 = ~xy & yz, k1 = ~yz & ~(xy & xz);
  const I4 i2 = xy | (yz & xz), j2 = yz | ~xy, k2 = ~yz | (~xy & ~xz);
  const F4 x1 = (x0 - ones_where(i1)) + kG3, y1 = (y0 - ones_where(j1)) + kG3,
           z1 = (z0 - ones_where(k1)) + kG3;
  const F4 x2 = (x0 - ones_where(i2)) + k2G3, y2 = (y0 - ones_where(j2)) + k2G3,
           z2 = (z0 - ones_where(k2)) + k2G3;
  const F4 x3 = (x0 - 1.0f) + 0.5f, y3 = (y0 - 1.0f) + 0.5f, z3 = (z0 - 1.0f) + 0.5f;
  // A true mask lane is -1, so the corner's lattice step is the negated mask.
  const I4 one = I4{1, 1, 1, 1};
  const F4 a = corner(seed, i, j, k, x0, y0, z0);
  const F4 b = corner(seed, wrap_add(i, -i1), wrap_add(j, -j1), wrap_add(k, -k1), x1, y1, z1);
  const F4 c = corner(seed, wrap_add(i, -i2), wrap_add(j, -j2), wrap_add(k, -k2), x2, y2, z2);
  const F4 d = corner(seed, wrap_add(i, one), wrap_add(j, one), wrap_add(k, one), x3, y3, z3);
  return (((a + b) + c) + d) * kScale3;
}

}  // namespace ostrel_core::detgen::noise::x4
