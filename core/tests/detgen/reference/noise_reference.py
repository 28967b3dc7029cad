#!/usr/bin/env python3
"""Independent reference for the generation noise: 2D and 3D simplex and the fractal fills.

Standard library only. Every operation is done in double precision and then rounded to single
precision through struct, which rounds exactly as one single-precision operation would. Writes
noise_samples.inc (inputs and expected bit patterns) beside this file; with --check, compares
what it would write with the committed file instead and exits 1 when they differ.
"""
import math
import struct
import sys
from pathlib import Path

M64 = (1 << 64) - 1


def f32(x):
    """x rounded to single precision (round to nearest, ties to even)."""
    try:
        return struct.unpack("<f", struct.pack("<f", x))[0]
    except OverflowError:
        return math.copysign(math.inf, x)


def bits(x):
    return struct.unpack("<I", struct.pack("<f", x))[0]


def from_bits(b):
    return struct.unpack("<f", struct.pack("<I", b))[0]


def add(a, b): return f32(a + b)
def sub(a, b): return f32(a - b)
def mul(a, b): return f32(a * b)
def div(a, b): return f32(a / b)


def floor_i32(v):
    if math.isnan(v):
        return 0
    if v >= 2.0 ** 31:
        return 2 ** 31 - 1
    if v < -(2.0 ** 31):
        return -(2 ** 31)
    return math.floor(v)


def wrap32(v):
    return ((v + 2 ** 31) % 2 ** 32) - 2 ** 31


def to_f32(i):
    return f32(float(i))


CLAMP = from_bits(0x4A800000)
F2, G2, G2X2 = from_bits(0x3EBB67AE), from_bits(0x3E58658C), from_bits(0x3ED8658C)
F3, G3 = from_bits(0x3EAAAAAB), from_bits(0x3E2AAAAB)
R2, R3 = from_bits(0x3F000000), from_bits(0x3F19999A)
KX, KY, KZ, KM = 0x9E3779B97F4A7C15, 0xC2B2AE3D27D4EB4F, 0x165667B19E3779F9, 0xBF58476D1CE4E5B9
GRAD2 = [(1, 1), (-1, 1), (1, -1), (-1, -1), (1, 0), (-1, 0), (0, 1), (0, -1)]
GRAD3 = [(1, 1, 0), (-1, 1, 0), (1, -1, 0), (-1, -1, 0), (1, 0, 1), (-1, 0, 1), (1, 0, -1), (-1, 0, -1),
         (0, 1, 1), (0, -1, 1), (0, 1, -1), (0, -1, -1), (1, 1, 0), (0, -1, 1), (-1, 1, 0), (0, -1, -1)]


def lattice_hash(seed, *coords):
    h = seed
    for c, k in zip(coords, (KX, KY, KZ)):
        h ^= ((c & 0xFFFFFFFF) * k) & M64
    h ^= h >> 29
    h = (h * KM) & M64
    return h ^ (h >> 32)


def clamp(v):
    if v < -CLAMP:
        return -CLAMP
    if CLAMP < v:
        return CLAMP
    return v


def corner2(seed, a, b, u, w):
    tc = sub(sub(R2, mul(u, u)), mul(w, w))
    if tc <= 0:
        return 0.0
    gx, gy = GRAD2[lattice_hash(seed, a, b) & 7]
    t2 = mul(tc, tc)
    return mul(mul(t2, t2), add(mul(u, float(gx)), mul(w, float(gy))))


def simplex2(seed, x, y):
    x, y = clamp(x), clamp(y)
    s = mul(add(x, y), F2)
    i, j = floor_i32(add(x, s)), floor_i32(add(y, s))
    t = mul(to_f32(wrap32(i + j)), G2)
    x0 = sub(x, sub(to_f32(i), t))
    y0 = sub(y, sub(to_f32(j), t))
    i1, j1 = (1, 0) if x0 > y0 else (0, 1)
    x1, y1 = add(sub(x0, float(i1)), G2), add(sub(y0, float(j1)), G2)
    x2, y2 = add(sub(x0, 1.0), G2X2), add(sub(y0, 1.0), G2X2)
    a = corner2(seed, i, j, x0, y0)
    b = corner2(seed, wrap32(i + i1), wrap32(j + j1), x1, y1)
    c = corner2(seed, wrap32(i + 1), wrap32(j + 1), x2, y2)
    return mul(add(add(a, b), c), 45.0)


def corner3(seed, a, b, c, u, v, w):
    tc = sub(sub(sub(R3, mul(u, u)), mul(v, v)), mul(w, w))
    if tc <= 0:
        return 0.0
    gx, gy, gz = GRAD3[lattice_hash(seed, a, b, c) & 15]
    t2 = mul(tc, tc)
    dot = add(add(mul(u, float(gx)), mul(v, float(gy))), mul(w, float(gz)))
    return mul(mul(t2, t2), dot)


def simplex3(seed, x, y, z):
    x, y, z = clamp(x), clamp(y), clamp(z)
    s = mul(add(add(x, y), z), F3)
    i, j, k = floor_i32(add(x, s)), floor_i32(add(y, s)), floor_i32(add(z, s))
    t = mul(to_f32(wrap32(i + j + k)), G3)
    x0, y0, z0 = sub(x, sub(to_f32(i), t)), sub(y, sub(to_f32(j), t)), sub(z, sub(to_f32(k), t))
    if x0 >= y0:
        if y0 >= z0:
            c1, c2 = (1, 0, 0), (1, 1, 0)
        elif x0 >= z0:
            c1, c2 = (1, 0, 0), (1, 0, 1)
        else:
            c1, c2 = (0, 0, 1), (1, 0, 1)
    else:
        if y0 < z0:
            c1, c2 = (0, 0, 1), (0, 1, 1)
        elif x0 < z0:
            c1, c2 = (0, 1, 0), (0, 1, 1)
        else:
            c1, c2 = (0, 1, 0), (1, 1, 0)
    o = (x0, y0, z0)
    off1 = [add(sub(o[n], float(c1[n])), G3) for n in range(3)]
    off2 = [add(sub(o[n], float(c2[n])), F3) for n in range(3)]
    off3 = [add(sub(o[n], 1.0), 0.5) for n in range(3)]
    base = (i, j, k)
    a = corner3(seed, i, j, k, x0, y0, z0)
    b = corner3(seed, *[wrap32(base[n] + c1[n]) for n in range(3)], *off1)
    c = corner3(seed, *[wrap32(base[n] + c2[n]) for n in range(3)], *off2)
    d = corner3(seed, *[wrap32(base[n] + 1) for n in range(3)], *off3)
    return mul(add(add(add(a, b), c), d), 32.0)


def shape(kind, v):
    if kind == 1:
        return sub(1.0, add(abs(v), abs(v)))
    if kind == 2:
        return sub(add(abs(v), abs(v)), 1.0)
    return v


def fractal(seed, opts, sample, coords):
    octaves, frequency, lacunarity, gain, shaping = opts
    total, weight, f, acc = 0.0, 1.0, frequency, 0.0
    for o in range(min(max(octaves, 1), 16)):
        v = shape(shaping, sample(seed ^ ((o * KX) & M64), *[mul(c, f) for c in coords]))
        acc = add(acc, mul(weight, v))
        total = add(weight, total)
        weight = mul(gain, weight)
        f = mul(lacunarity, f)
    return div(acc, total)


def at(origin, step, index):
    return add(origin, mul(step, to_f32(index)))


def fill_2d(seed, grid, opts):
    nx, nz, x0, z0, dx, dz = grid
    return [fractal(seed, opts, simplex2, (at(x0, dx, c), at(z0, dz, r))) for r in range(nz) for c in range(nx)]


def fill_3d(seed, grid, opts, stretch=(1.0, 1.0, 1.0)):
    nx, ny, nz, x0, y0, z0, step = grid
    out = []
    for iz in range(nz):
        for iy in range(ny):
            for ix in range(nx):
                p = (at(x0, step, ix), at(y0, step, iy), at(z0, step, iz))
                p = tuple(div(p[n], stretch[n]) for n in range(3))
                out.append(fractal(seed, opts, simplex3, p))
    return out


class Lcg:
    """A fixed 64-bit LCG (Knuth's MMIX constants) choosing the inputs."""

    def __init__(self, seed):
        self.s = seed

    def next(self):
        self.s = (self.s * 6364136223846793005 + 1442695040888963407) & M64
        return self.s

    def coord(self):
        """Coordinates across magnitudes, past the clamp and on lattice-friendly values."""
        kind = self.next() >> 61
        u = (self.next() >> 11) / float(1 << 53) * 2.0 - 1.0
        scale = [4.0, 40.0, 700.0, 1e5, 5e6, 3e7, 1.0, 64.0][kind]
        v = f32(u * scale)
        if kind == 6:
            v = float(round(v * 8)) / 8.0  # on a fine grid: ties and exact lattice points
        return v


def hexbits(values):
    return ", ".join(f"0x{bits(v):08X}" for v in values)


def render():
    rng = Lcg(0x0DE7_6E4E)
    lines = ["// Generated by noise_reference.py from its own arithmetic; do not edit.",
             "// Simplex inputs and outputs as single-precision bit patterns.", ""]
    special2 = [(0, 0.0, 0.0), (7, 0.0, 0.0), (1, CLAMP, -CLAMP), (1, 3e7, -9e9), (3, -0.5, -1.0)]
    special3 = [(0, 0.0, 0.0, 0.0), (9, 0.0, 0.0, 0.0), (1, CLAMP, 1.5, -CLAMP), (1, 8e6, 1.5, -1e30),
                (5, -1.0, -2.0, -3.0)]
    cases2 = list(special2)
    while len(cases2) < 100:
        cases2.append((rng.next(), rng.coord(), rng.coord()))
    cases3 = list(special3)
    while len(cases3) < 100:
        cases3.append((rng.next(), rng.coord(), rng.coord(), rng.coord()))
    lines.append("struct RefSimplex2 { std::uint64_t seed; std::uint32_t x, y, want; };")
    lines.append("inline constexpr RefSimplex2 kRefSimplex2[] = {")
    for seed, x, y in cases2:
        lines.append(f"    {{0x{seed:016X}ull, {hexbits([x, y])}, {hexbits([simplex2(seed, f32(x), f32(y))])}}},")
    lines.append("};")
    lines.append("struct RefSimplex3 { std::uint64_t seed; std::uint32_t x, y, z, want; };")
    lines.append("inline constexpr RefSimplex3 kRefSimplex3[] = {")
    for seed, x, y, z in cases3:
        want = simplex3(seed, f32(x), f32(y), f32(z))
        lines.append(f"    {{0x{seed:016X}ull, {hexbits([x, y, z])}, {hexbits([want])}}},")
    lines.append("};")
    lines.append("")

    # Fills: (octaves, frequency, lacunarity, gain, shaping) as in NoiseOptions.
    opts2 = (20, f32(0.013), f32(2.1), f32(0.55), 1)
    grid2 = (8, 6, f32(-37.5), f32(1021.25), f32(3.0), f32(0.75))
    opts3 = (3, f32(0.05), f32(1.9), f32(0.6), 2)
    grid3 = (5, 4, 3, f32(-8.0), f32(60.5), f32(-1000.0), f32(1.5))
    opts3s = (5, f32(0.02), f32(2.0), f32(0.5), 0)
    grid3s = (4, 4, 4, f32(100.0), f32(-20.0), f32(7.25), f32(4.0))
    stretch = (f32(1.0), f32(4.0), f32(2.5))

    def options(o):
        return f"{{{o[0]}, 0x{bits(o[1]):08X}, 0x{bits(o[2]):08X}, 0x{bits(o[3]):08X}, {o[4]}}}"

    lines.append("// Fill options: octaves, frequency, lacunarity and gain bits, shaping.")
    lines.append("struct RefOptions { std::uint32_t octaves, frequency, lacunarity, gain; std::uint8_t shaping; };")
    lines.append("inline constexpr std::uint64_t kRefFillSeed = 0x5EED0000CAFEF00Dull;")
    lines.append(f"inline constexpr RefOptions kRefFill2Options = {options(opts2)};")
    lines.append(f"inline constexpr std::size_t kRefFill2Shape[2] = {{{grid2[0]}, {grid2[1]}}};")
    lines.append(f"inline constexpr std::uint32_t kRefFill2Place[4] = {{{hexbits(grid2[2:])}}};  // x0, z0, dx, dz")
    lines.append(f"inline constexpr std::uint32_t kRefFill2[] = {{{hexbits(fill_2d(0x5EED0000CAFEF00D, grid2, opts2))}}};")
    lines.append(f"inline constexpr RefOptions kRefFill3Options = {options(opts3)};")
    lines.append(f"inline constexpr std::size_t kRefFill3Shape[3] = {{{grid3[0]}, {grid3[1]}, {grid3[2]}}};")
    lines.append(f"inline constexpr std::uint32_t kRefFill3Place[4] = {{{hexbits(grid3[3:])}}};  // x0, y0, z0, step")
    lines.append(f"inline constexpr std::uint32_t kRefFill3[] = {{{hexbits(fill_3d(0x5EED0000CAFEF00D, grid3, opts3))}}};")
    lines.append(f"inline constexpr RefOptions kRefFill3sOptions = {options(opts3s)};")
    lines.append(f"inline constexpr std::size_t kRefFill3sShape[3] = {{{grid3s[0]}, {grid3s[1]}, {grid3s[2]}}};")
    lines.append(f"inline constexpr std::uint32_t kRefFill3sPlace[4] = {{{hexbits(grid3s[3:])}}};  // x0, y0, z0, step")
    lines.append(f"inline constexpr std::uint32_t kRefFill3sStretch[3] = {{{hexbits(stretch)}}};")
    lines.append(
        f"inline constexpr std::uint32_t kRefFill3s[] = {{{hexbits(fill_3d(0x5EED0000CAFEF00D, grid3s, opts3s, stretch))}}};")
    return "\n".join(lines) + "\n"


def main():
    target = Path(__file__).with_name("noise_samples.inc")
    text = render()
    if "--check" in sys.argv[1:]:
        if target.read_text() != text:
            print(f"{target} differs from what noise_reference.py computes", file=sys.stderr)
            return 1
        return 0
    target.write_text(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
