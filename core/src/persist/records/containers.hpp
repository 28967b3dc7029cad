#pragma once
// The container record: the slots of one world container. The `containers` row's data is one
// version byte (2) and then this record; the name lives in the row's `name` column.
//
// Version 2 (written): slots, a varint count, then per slot an option byte and a StoredStack.
// Version 1: the same with ContainerStackV1 stacks (no cells). Bytes after it are ignored.
// Example, version 2: [empty, 3 units of world id 7 with text "x"]
//   -> 02 00 01 07 03 00 01 01 78 00.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"
#include "building/inventory/slots.hpp"
#include "persist/idmap.hpp"
#include "persist/records/stored_stack.hpp"
#include "persist/records/versioned.hpp"

namespace ostrel_core::persist::containers {

inline constexpr std::uint8_t kContainerVersion = 2;

template <class S>
struct StoredContainerOf {
  std::vector<std::optional<S>> slots;
  static constexpr auto fields() { return std::tuple{&StoredContainerOf::slots}; }
};

// Refusals read "container data is version 3; this build writes 2" or "container data version 1
// did not decode".
using ContainerError = versioned::MigrationError;

struct Encoded {
  std::vector<std::uint8_t> bytes;  // the version-2 record, without the version byte
  std::size_t dropped = 0;          // stacks written as empty slots: no world id
};

struct Decoded {
  std::string name;
  inventory::slots::View view;  // exactly slot_count slots
  std::size_t dropped = 0;      // stacks that could not be restored or lay beyond slot_count
  std::size_t stored_slots = 0;  // slots the record itself held
};

Encoded encode(const inventory::slots::View& view, const idmap::MaterialMap& map);
std::expected<Decoded, ContainerError> decode(std::uint8_t version, std::span<const std::uint8_t> bytes,
                                              std::string_view name, std::size_t slot_count,
                                              const idmap::MaterialMap& map);

}  // namespace ostrel_core::persist::containers
