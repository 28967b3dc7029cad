#pragma once
// The stored entity record: the `data` of an `entities` row, in the record encoding, with no
// version byte of its own (the row's `version` column holds it). Floats are LE IEEE f32.
//
// Version 4 (written), the eleven stored fields of an Entity in order:
//   transform   chunk x, y, z (zigzag varints), local x, y, z, yaw, pitch (5 x f32)
//   velocity    3 x f32
//   speed       f32
//   collider    option byte, then width, height (2 x f32)
//   model       option byte, then a string (varint byte count, UTF-8)
//   item        option byte, then material (u16 varint, world id), count (u32 varint),
//               occupancy (option, u32 varint), cells (option, exactly 27 u16 varints, no
//               count), text (option, string)
//   health      option byte, then current, max (u32 varints)
//   nametag     option byte, then variant (varint): 0 and a string, or 1 and 32 raw bytes
//   owner       option byte, then 32 raw bytes
//   source      string
//   opaque      option byte, then a varint count and that many bytes
// Versions 2 and 3: the same, but the item has no cells field (material, count, occupancy,
// text). Version 1: transform, velocity, collider, model, health, nametag, owner, source,
// opaque; it reads as speed 1 and no item.
//
// Example, version 4: an entity at chunk (0, 0, 0), all floats 0 but speed 1, nothing optional,
// source "m" -> 00 00 00, 32 zero bytes (5 + 3 floats), 00 00 80 3F, 00 00 00 00 00 00,
// 01 6D, 00.

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "movement/ent.hpp"
#include "base/error.hpp"
#include "persist/records/versioned.hpp"
#include "proto/protocol_error.hpp"

namespace ostrel_core::persist::entity_record {

inline constexpr std::uint8_t kEntityVersion = 4;

using versioned::MigrationError;

// The version-4 record of `entity`, taken as it is: the item's ids must already be world ids.
std::vector<std::uint8_t> encode(const ent::Entity& entity);
// A version-4 record; bytes after it are ignored. The item keeps its world ids.
std::expected<ent::Entity, proto::ProtocolError> decode(std::span<const std::uint8_t> bytes);
// A record of version 1, 2 or 3, upgraded; the item keeps its world ids.
std::expected<ent::Entity, MigrationError> migrate_entity(std::uint8_t version,
                                                          std::span<const std::uint8_t> bytes);
// What went wrong in a record, for logs and row errors: "the record ends inside a field".
std::string describe(const proto::ProtocolError& e);

}  // namespace ostrel_core::persist::entity_record
