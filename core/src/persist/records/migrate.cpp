#include "persist/records/migrate.hpp"

#include "persist/records/codec.hpp"

namespace ostrel_core::persist::migrate {

namespace {

std::expected<chunk::ChunkParts, SourcePtr> read_v0(std::span<const std::uint8_t> payload) {
  auto parts = codec::read_payload(payload, false);
  if (!parts) return std::unexpected(make_source(parts.error()));
  return std::move(*parts);
}

constexpr versioned::Rung<chunk::ChunkParts> kRungs[] = {{0, read_v0}};
constexpr versioned::Ladder<chunk::ChunkParts> kLadder{versioned::Record::Chunk, codec::kFormatVersion,
                                                       kRungs};

}  // namespace

std::expected<chunk::ChunkParts, MigrationError> migrate_chunk(std::uint8_t version,
                                                               std::span<const std::uint8_t> payload) {
  return versioned::climb(kLadder, version, payload);
}

}  // namespace ostrel_core::persist::migrate
