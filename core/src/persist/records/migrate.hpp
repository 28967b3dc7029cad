#pragma once
// Upgrade steps for chunk payloads written in older format versions.

#include <cstdint>
#include <expected>
#include <span>

#include "persist/records/versioned.hpp"
#include "world/chunk.hpp"

namespace ostrel_core::persist::migrate {

using versioned::MigrationError;

// The version-1 parts of a payload of format `version`. Version 0 lacks the mixed free list,
// which reads as empty.
std::expected<chunk::ChunkParts, MigrationError> migrate_chunk(std::uint8_t version,
                                                               std::span<const std::uint8_t> payload);

}  // namespace ostrel_core::persist::migrate
