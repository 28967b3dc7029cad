#include "world/block.hpp"

namespace ostrel_core::block {

namespace {

Cells partial_cells(MaterialId m, std::uint32_t mask) {
  Cells out{};
  for (std::size_t i = 0; i < kCells; ++i) {
    if (mask & (1u << i)) out[i] = m;
  }
  return out;
}

unsigned filled(const Cells& cells) {
  unsigned n = 0;
  for (MaterialId m : cells) n += m != 0;
  return n;
}

BlockValue canonical_partial(MaterialId m, std::uint32_t mask) {
  mask &= kOccupancyFull;
  if (m == material::kAir || mask == 0) return BlockValue::air();
  if (mask == kOccupancyFull) return BlockValue::whole(m);
  return BlockValue::partial(m, mask);
}

BlockValue canonical_mixed(const Cells& cells) {
  MaterialId only = 0;
  std::uint32_t mask = 0;
  for (std::size_t i = 0; i < kCells; ++i) {
    const MaterialId m = cells[i];
    if (m == 0) continue;
    if (only != 0 && m != only) return BlockValue::mixed(cells);
    only = m;
    mask |= 1u << i;
  }
  return canonical_partial(only, mask);
}

}  // namespace

Cells BlockValue::cells() const { return BlockView::of(*this).cells(); }

unsigned BlockValue::filled_cells() const { return BlockView::of(*this).filled_cells(); }

BlockValue BlockValue::canonical() const {
  switch (kind_) {
    case Kind::Whole:
      return *this;
    case Kind::Partial:
      return canonical_partial(material_, mask_);
    case Kind::Mixed:
      return canonical_mixed(cells_);
  }
  return *this;
}

BlockView BlockView::of(const BlockValue& v) {
  switch (v.kind()) {
    case Kind::Whole:
      return whole(v.material());
    case Kind::Partial:
      return partial(v.material(), v.mask());
    case Kind::Mixed:
      return mixed(v.mixed_cells());
  }
  return {};
}

MaterialId BlockView::cell(std::size_t cell) const {
  OSTREL_ASSERT(cell < kCells);
  switch (kind_) {
    case Kind::Whole:
      return material_;
    case Kind::Partial:
      return (mask_ >> cell) & 1 ? material_ : MaterialId{0};
    case Kind::Mixed:
      return (*cells_)[cell];
  }
  return 0;
}

Cells BlockView::cells() const {
  switch (kind_) {
    case Kind::Whole: {
      Cells out;
      out.fill(material_);
      return out;
    }
    case Kind::Partial:
      return partial_cells(material_, mask_);
    case Kind::Mixed:
      return *cells_;
  }
  return {};
}

unsigned BlockView::filled_cells() const {
  switch (kind_) {
    case Kind::Whole:
      return material_ != 0 ? static_cast<unsigned>(kCells) : 0;
    case Kind::Partial:
      return material_ != 0 ? mask_cells(mask_) : 0;
    case Kind::Mixed:
      return filled(*cells_);
  }
  return 0;
}

BlockValue BlockView::to_value() const {
  switch (kind_) {
    case Kind::Whole:
      return BlockValue::whole(material_);
    case Kind::Partial:
      return BlockValue::partial(material_, mask_);
    case Kind::Mixed:
      return BlockValue::mixed(*cells_);
  }
  return {};
}

}  // namespace ostrel_core::block
