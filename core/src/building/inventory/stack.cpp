#include "building/inventory/stack.hpp"

#include <algorithm>
#include <limits>

#include <fmt/format.h>

namespace ostrel_core::inventory {

namespace {

constexpr std::uint32_t kMaxUnits = std::numeric_limits<std::uint32_t>::max();

std::string shape_text(const std::optional<std::uint32_t>& s) {
  return s ? fmt::format("{:#x}", *s) : "none";
}

// Three-way comparison of the merge key: material, shape, cells, detail; absent before present.
int compare_key(const Stack& a, const Stack& b) {
  if (a.material != b.material) return a.material < b.material ? -1 : 1;
  if (a.shape != b.shape) return a.shape < b.shape ? -1 : 1;
  if (a.cells != b.cells) return a.cells < b.cells ? -1 : 1;
  if (a.detail != b.detail) return a.detail < b.detail ? -1 : 1;
  return 0;
}

// The 27-bit permutation of one quarter turn.
std::uint32_t turn_once(std::uint32_t mask) {
  std::uint32_t out = 0;
  for (unsigned i = 0; i < 27; ++i) {
    if ((mask >> i & 1) == 0) continue;
    const unsigned x = i % 3, y = i / 3 % 3, z = i / 9;
    out |= 1u << (z + 3 * y + 9 * (2 - x));
  }
  return out;
}

}  // namespace

std::string StackError::message() const {
  switch (kind) {
    case StackErrorKind::MaterialDiffers:
      return fmt::format("stacks of materials {} and {} do not merge", a, b);
    case StackErrorKind::ShapeDiffers:
      return fmt::format("stacks of shapes {} and {} do not merge", shape_text(shape_a), shape_text(shape_b));
    case StackErrorKind::CellsDiffer: return "stacks of different cell materials do not merge";
    case StackErrorKind::DetailDiffers: return "stacks with different details do not merge";
    case StackErrorKind::TooMany:
      return fmt::format("{} and {} units together pass the largest stack", a, b);
    case StackErrorKind::TooFew: return fmt::format("{} units wanted, {} held", a, b);
  }
  return "stack error";
}

std::uint32_t Stack::item_size() const {
  return shape ? static_cast<std::uint32_t>(__builtin_popcount(*shape & OCCUPANCY_FULL)) : UNITS_PER_BLOCK;
}

bool Stack::is_like(const Stack& other) const { return compare_key(*this, other) == 0; }

std::optional<Stack> Stack::of_cells(const Cells& cells, std::uint32_t units) {
  MaterialId lowest = 0;
  bool several = false;
  for (MaterialId m : cells) {
    if (m == 0) continue;
    if (lowest == 0) {
      lowest = m;
    } else if (m != lowest) {
      several = true;
      lowest = std::min(lowest, m);
    }
  }
  if (lowest == 0 || units == 0) return std::nullopt;
  Stack s;
  s.material = lowest;
  s.units = units;
  const std::uint32_t mask = cut::occupancy_of(cells);
  if (mask != OCCUPANCY_FULL) s.shape = mask;
  if (several) s.cells = cells;
  return s;
}

std::optional<Stack> Stack::canonical(Stack stack) {
  if (!stack.cells) return stack;
  auto out = of_cells(*stack.cells, stack.units);
  if (out) out->detail = std::move(stack.detail);
  return out;
}

std::expected<void, StackError> Stack::merge(const Stack& other) {
  if (material != other.material) {
    return std::unexpected(StackError{StackErrorKind::MaterialDiffers, material, other.material});
  }
  if (shape != other.shape) {
    return std::unexpected(StackError{StackErrorKind::ShapeDiffers, 0, 0, shape, other.shape});
  }
  if (cells != other.cells) return std::unexpected(StackError{StackErrorKind::CellsDiffer});
  if (detail != other.detail) return std::unexpected(StackError{StackErrorKind::DetailDiffers});
  if (other.units > kMaxUnits - units) {
    return std::unexpected(StackError{StackErrorKind::TooMany, units, other.units});
  }
  units += other.units;
  return {};
}

std::expected<Stack, StackError> Stack::split(std::uint32_t n) {
  if (units < n) return std::unexpected(StackError{StackErrorKind::TooFew, n, units});
  units -= n;
  Stack out = *this;
  out.units = n;
  return out;
}

std::vector<Stack> consolidate(std::span<const Stack> stacks) {
  std::vector<Stack> out;
  for (const Stack& s : stacks) {
    if (s.units == 0 || s.material == 0) continue;
    auto it = std::lower_bound(out.begin(), out.end(), s,
                               [](const Stack& a, const Stack& b) { return compare_key(a, b) < 0; });
    if (it != out.end() && compare_key(*it, s) == 0) {
      if (s.units <= kMaxUnits - it->units) {
        it->units += s.units;
        continue;
      }
      ++it;  // full: a new entry right after the matched one
    }
    out.insert(it, s);
  }
  return out;
}

std::vector<Stack> removed_units(const block::BlockValue& before, const block::BlockValue& after) {
  const auto was = block::BlockView::of(before);
  const auto now = block::BlockView::of(after);
  std::vector<Stack> out;
  for (std::size_t i = 0; i < block::kCells; ++i) {
    const MaterialId old = was.cell(i);
    if (old == 0 || now.cell(i) == old) continue;
    auto it = std::lower_bound(out.begin(), out.end(), old,
                               [](const Stack& s, MaterialId m) { return s.material < m; });
    if (it != out.end() && it->material == old) {
      ++it->units;
    } else {
      Stack s;
      s.material = old;
      s.units = 1;
      out.insert(it, std::move(s));
    }
  }
  return out;
}

std::uint32_t units_of_exactly(std::span<const Stack> stacks, const Stack& like) {
  std::uint32_t total = 0;
  for (const Stack& s : stacks) {
    if (!s.is_like(like)) continue;
    total = s.units > kMaxUnits - total ? kMaxUnits : total + s.units;
  }
  return total;
}

std::uint32_t turned(std::uint32_t mask, std::uint32_t turns) {
  mask &= OCCUPANCY_FULL;
  for (std::uint32_t t = 0; t < turns % 4; ++t) mask = turn_once(mask);
  return mask;
}

const std::array<std::uint8_t, 27>& fill_order() {
  static constexpr std::array<std::uint8_t, 27> kOrder = [] {
    std::array<std::uint8_t, 27> order{};
    std::size_t n = 0;
    for (unsigned y = 0; y < 3; ++y)
      for (unsigned z = 0; z < 3; ++z)
        for (unsigned x = 0; x < 3; ++x) order[n++] = static_cast<std::uint8_t>(x + 3 * y + 9 * z);
    return order;
  }();
  return kOrder;
}

namespace cut {

std::uint32_t occupancy_of(const Cells& cells) {
  std::uint32_t mask = 0;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (cells[i] != 0) mask |= 1u << i;
  }
  return mask;
}

std::vector<std::pair<MaterialId, std::uint32_t>> by_material(const Cells& cells) {
  std::vector<std::pair<MaterialId, std::uint32_t>> out;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const MaterialId m = cells[i];
    if (m == 0) continue;
    auto it = std::lower_bound(out.begin(), out.end(), m,
                               [](const auto& p, MaterialId v) { return p.first < v; });
    if (it == out.end() || it->first != m) it = out.insert(it, {m, 0});
    it->second |= 1u << i;
  }
  return out;
}

}  // namespace cut

}  // namespace ostrel_core::inventory
