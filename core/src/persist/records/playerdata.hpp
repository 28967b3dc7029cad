#pragma once
// The player record: every slot view a player has, with its stacks, and the stack on the
// cursor. The `players` row's data is one version byte (3) and then this record.
//
// Version 3 (written), StoredSlotsOf<StoredStack>:
//   views   varint count, then per view: name (string), slots (varint count, then per slot an
//           option byte and a StoredStack)
//   held    option byte, then a StoredStack
// Versions 2 and 1 are the same frame with StoredStackV2 and PlayerStackV1 stacks
// (persist/stored_stack.hpp). Bytes after the held stack are ignored.
// Example, version 3: one view "a" with one empty slot and one slot of 5 units of world id 2,
// nothing held -> 01 01 61 02 00 01 02 05 00 00 00 00.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "building/inventory/slots.hpp"
#include "persist/idmap.hpp"
#include "persist/records/stored_stack.hpp"
#include "persist/records/versioned.hpp"

namespace ostrel_core::persist::playerdata {

inline constexpr std::uint8_t kPlayerVersion = 3;

template <class S>
struct StoredViewOf {
  std::string name;
  std::vector<std::optional<S>> slots;
  static constexpr auto fields() { return std::tuple{&StoredViewOf::name, &StoredViewOf::slots}; }
};

template <class S>
struct StoredSlotsOf {
  std::vector<StoredViewOf<S>> views;
  std::optional<S> held;
  static constexpr auto fields() { return std::tuple{&StoredSlotsOf::views, &StoredSlotsOf::held}; }

  // The frame with every stack upgraded one version: names and slot order kept.
  auto upgraded() const {
    using Next = decltype(std::declval<S>().upgraded());
    StoredSlotsOf<Next> out;
    out.views.reserve(views.size());
    for (const auto& v : views) out.views.push_back({v.name, stored_stack::upgraded_slots(v.slots)});
    if (held) out.held = held->upgraded();
    return out;
  }
};

// Refusals read "player data is version 4; this build writes 3" or "player data version 3 did
// not decode".
using DecodeError = versioned::MigrationError;

struct Encoded {
  std::vector<std::uint8_t> bytes;  // the version-3 record, without the version byte
  std::size_t dropped = 0;          // stacks written as empty slots: no world id
};

struct Decoded {
  inventory::slots::Slots slots;
  std::size_t dropped = 0;  // stacks that could not be restored or did not fit
};

// Never fails; a stack this world cannot name leaves an empty slot and is counted.
Encoded encode(const inventory::slots::Slots& slots, const idmap::MaterialMap& map);
// Restores the stored views over a copy of `template_slots` (which supplies everything not
// stored): a known view is overwritten slot by slot ("player:main" grows to the stored length,
// any other view keeps its length and counts the stacks beyond), an unknown view is appended.
std::expected<Decoded, DecodeError> decode(std::uint8_t version, std::span<const std::uint8_t> bytes,
                                           const inventory::slots::Slots& template_slots,
                                           const idmap::MaterialMap& map);

}  // namespace ostrel_core::persist::playerdata
