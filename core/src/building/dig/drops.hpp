#pragma once
// What dug cells earn. A drop list entry (m, per) pays `per` units of m for every whole block
// dug, that is per / 27 for each cell; the 27ths not yet paid are carried per material across
// calls and digs for as long as the Yield lives. Without a list a block yields itself.
//
// Example: list (m, 1): 10 cells pay nothing (carry 10), 17 more pay 1 unit (carry 0).

#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "building/inventory/stack.hpp"
#include "world/material.hpp"

namespace ostrel_core::dig::drops {

using material::MaterialId;
// (material earned, units earned per whole block dug), in list order.
using DropList = std::vector<std::pair<MaterialId, std::uint32_t>>;

struct Yield {
  std::optional<DropList> drops;              // a dig hook's list, overriding the block's own
  std::map<MaterialId, std::uint32_t> carry;  // 27ths of a unit not yet paid, 0..26

  // The stacks `units` removed units of `material` earn now, by the Yield's own list when set,
  // else by `registered` (the block's list; null when it has none). One stack per material,
  // ascending, material and units only; counts saturate at 4,294,967,295.
  std::vector<inventory::Stack> earn(MaterialId material, std::uint32_t units, const DropList* registered);

  friend bool operator==(const Yield&, const Yield&) = default;
};

}  // namespace ostrel_core::dig::drops
