#include "persist/records/migrate.hpp"

#include <fmt/format.h>

#include "persist/records/codec.hpp"

namespace ostrel_core::persist::migrate {

std::string MigrationError::message() const {
  switch (kind) {
    case MigrationErrorKind::NoStep: return fmt::format("no upgrade step from chunk format version {}", version);
    case MigrationErrorKind::Malformed: return fmt::format("format version {} payload is malformed", version);
  }
  return "chunk migration failed";
}

std::expected<chunk::ChunkParts, MigrationError> migrate_chunk(std::uint8_t version,
                                                               std::span<const std::uint8_t> payload) {
  if (version != 0) return std::unexpected(MigrationError{MigrationErrorKind::NoStep, version});
  auto parts = codec::read_payload(payload, false);
  if (!parts) {
    MigrationError e{MigrationErrorKind::Malformed, version};
    e.cause = make_source(parts.error());
    return std::unexpected(std::move(e));
  }
  return std::move(*parts);
}

}  // namespace ostrel_core::persist::migrate
