#pragma once
// Small density programs and read-backs shared by the chunk buffer tests.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "detgen/buffer/chunk_buffer.hpp"
#include "detgen/density.hpp"

namespace ostrel_core::detgen::buffer::buftest {

using density::Density;
using density::Op;

inline Density program(std::vector<Op> ops) {
  auto d = Density::compile(std::move(ops));
  EXPECT_TRUE(d) << (d ? "" : d.error().message());
  return std::move(*d);
}
inline Density constant(float v) { return program({Op::Const{v}}); }
// axis - v: positive above v on the axis (0 x, 1 y, 2 z).
inline Density axis_minus(std::uint8_t axis, float v) {
  return program({Op::Coord{axis}, Op::Const{v}, Op::Sub{}});
}
// v - axis: positive below v.
inline Density below(std::uint8_t axis, float v) {
  return program({Op::Const{v}, Op::Coord{axis}, Op::Sub{}});
}

// The block's material when its 27 cells hold one; -1 otherwise.
inline int uniform(const ChunkBuffer& b, std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  const BlockCells c = b.block_cells(x, y, z);
  for (std::uint16_t m : c) {
    if (m != c[0]) return -1;
  }
  return c[0];
}

}  // namespace ostrel_core::detgen::buffer::buftest
