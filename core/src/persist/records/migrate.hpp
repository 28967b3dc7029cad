#pragma once
// Upgrade steps for chunk payloads written in older format versions.

#include <cstdint>
#include <expected>
#include <span>
#include <string>

#include "world/chunk.hpp"
#include "base/error.hpp"

namespace ostrel_core::persist::migrate {

enum class MigrationErrorKind : std::uint8_t {
  NoStep,     // no upgrade step from this version: version
  Malformed,  // the old payload does not decode; source: the ProtocolError
};

struct MigrationError {
  MigrationErrorKind kind;
  std::uint8_t version = 0;
  SourcePtr cause;

  std::string message() const;
  const ErrorSource* source() const { return cause.get(); }
};

// The version-1 parts of a payload of format `version`. Version 0 lacks the mixed free list,
// which reads as empty.
std::expected<chunk::ChunkParts, MigrationError> migrate_chunk(std::uint8_t version,
                                                               std::span<const std::uint8_t> payload);

}  // namespace ostrel_core::persist::migrate
