#pragma once
// Translation of the stored forms of item stacks between runtime and world material ids. Cell 0
// (empty) stays 0 without a lookup.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "building/inventory/stack.hpp"
#include "persist/idmap.hpp"

namespace ostrel_core::persist::cutcells {

// Nothing when a non-zero cell has no world id.
std::optional<std::vector<idmap::WorldId>> to_world(const inventory::Cells& cells, const idmap::MaterialMap& map);
// Nothing unless exactly 27 ids all translate.
std::optional<inventory::Cells> to_runtime(std::span<const idmap::WorldId> cells, const idmap::MaterialMap& map);

// A stack from its stored parts, or nothing when it cannot be rebuilt in this run.
std::optional<inventory::Stack> thaw(idmap::WorldId material, std::uint32_t count, bool cut, std::uint32_t mask,
                                     const std::optional<std::vector<idmap::WorldId>>& cells,
                                     const std::optional<std::string>& text, const idmap::MaterialMap& map);

}  // namespace ostrel_core::persist::cutcells
