#pragma once
// Item stacks as the player and container records store them, in world material ids. Each
// layout is a record of the record encoding; declaration order is the format.
//
//   StoredStack       material (u16 varint), count (u32 varint), occupancy (option, u32
//                     varint), text (option, string), cells (option, varint count, u16 varints)
//   StoredStackV2     material, count, occupancy, text: the player record's version-2 stack and,
//                     under the name ContainerStackV1, the container record's version-1 stack
//   PlayerStackV1     material, count, occupancy: the player record's version-1 stack
// Example: 12 units of world material 4, no occupancy, text "ore", no cells
//   -> 04 0C 00 01 03 6F 72 65 00.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "building/inventory/stack.hpp"
#include "persist/idmap.hpp"

namespace ostrel_core::persist::stored_stack {

struct StoredStack {
  idmap::WorldId material = 0;
  std::uint32_t count = 0;
  std::optional<std::uint32_t> occupancy;  // cell mask of a partial block, bits 0..26
  std::optional<std::string> text;
  std::optional<std::vector<idmap::WorldId>> cells;  // 27 world ids of a multi-material cut
  static constexpr auto fields() {
    return std::tuple{&StoredStack::material, &StoredStack::count, &StoredStack::occupancy,
                      &StoredStack::text, &StoredStack::cells};
  }
  friend bool operator==(const StoredStack&, const StoredStack&) = default;
};

struct StoredStackV2 {
  idmap::WorldId material = 0;
  std::uint32_t count = 0;
  std::optional<std::uint32_t> occupancy;
  std::optional<std::string> text;
  static constexpr auto fields() {
    return std::tuple{&StoredStackV2::material, &StoredStackV2::count, &StoredStackV2::occupancy,
                      &StoredStackV2::text};
  }
  StoredStack upgraded() const { return StoredStack{material, count, occupancy, text, std::nullopt}; }
};

// The container record's version-1 stack has the player record's version-2 layout.
using ContainerStackV1 = StoredStackV2;

struct PlayerStackV1 {
  idmap::WorldId material = 0;
  std::uint32_t count = 0;
  std::optional<std::uint32_t> occupancy;
  static constexpr auto fields() {
    return std::tuple{&PlayerStackV1::material, &PlayerStackV1::count, &PlayerStackV1::occupancy};
  }
  StoredStackV2 upgraded() const { return StoredStackV2{material, count, occupancy, std::nullopt}; }
};

// Every stack of `slots` one layout version up; empty slots stay empty.
template <class S>
auto upgraded_slots(const std::vector<std::optional<S>>& slots) {
  std::vector<std::optional<decltype(std::declval<S>().upgraded())>> out;
  out.reserve(slots.size());
  for (const auto& s : slots) out.push_back(s ? std::optional(s->upgraded()) : std::nullopt);
  return out;
}

// The stored form of a stack, or nothing when its material or a cell has no world id.
std::optional<StoredStack> freeze(const inventory::Stack& stack, const idmap::MaterialMap& map);
// The stack in this run's ids, or nothing when it cannot be rebuilt (unknown id, 0 units, air,
// cells that are not 27 or do not map).
std::optional<inventory::Stack> thaw(const StoredStack& stored, const idmap::MaterialMap& map);

// Slots frozen one by one; a stack that cannot be named is written empty and counted.
std::vector<std::optional<StoredStack>> freeze_slots(
    const std::vector<std::optional<inventory::Stack>>& slots, const idmap::MaterialMap& map,
    std::size_t& dropped);

}  // namespace ostrel_core::persist::stored_stack
