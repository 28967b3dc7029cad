#include "persist/world_error.hpp"

#include <fmt/format.h>

#include "persist/sqlite.hpp"

namespace ostrel_core::persist {

namespace {

WorldError make(WorldErrorKind kind) {
  WorldError e;
  e.kind = kind;
  return e;
}

constexpr const char* kKindNames[] = {"Sql",
                                      "Chunk",
                                      "Fluid",
                                      "Entity",
                                      "ModStorage",
                                      "Player",
                                      "Materials",
                                      "Fluids",
                                      "FluidId",
                                      "SchemaVersion",
                                      "OverworldIsNotDestroyable",
                                      "NoSuchLevel",
                                      "NoVoxels",
                                      "WorldOption",
                                      "FluidKept"};

}  // namespace

WorldError WorldError::sql(const sqlite::SqliteError& err) {
  auto e = make(WorldErrorKind::Sql);
  e.cause = make_source(err);
  return e;
}

std::unexpected<WorldError> sql_error(const sqlite::SqliteError& e) { return std::unexpected(WorldError::sql(e)); }

WorldError WorldError::chunk(coords::ChunkPos pos, std::string domain, SourcePtr codec) {
  auto e = make(WorldErrorKind::Chunk);
  e.pos = pos;
  e.domain = std::move(domain);
  e.cause = std::move(codec);
  return e;
}

WorldError WorldError::fluid(coords::ChunkPos pos, std::string domain, SourcePtr decode) {
  auto e = make(WorldErrorKind::Fluid);
  e.pos = pos;
  e.domain = std::move(domain);
  e.cause = std::move(decode);
  return e;
}

WorldError WorldError::entity(coords::ChunkPos pos, std::string domain, std::string reason) {
  auto e = make(WorldErrorKind::Entity);
  e.pos = pos;
  e.domain = std::move(domain);
  e.reason = std::move(reason);
  return e;
}

WorldError WorldError::mod_storage(std::string mod_id, std::string key, std::string reason) {
  auto e = make(WorldErrorKind::ModStorage);
  e.mod_id = std::move(mod_id);
  e.key = std::move(key);
  e.reason = std::move(reason);
  return e;
}

WorldError WorldError::player_row(std::string player, std::string reason) {
  auto e = make(WorldErrorKind::Player);
  e.player = std::move(player);
  e.reason = std::move(reason);
  return e;
}

WorldError WorldError::materials(SourcePtr idmap) {
  auto e = make(WorldErrorKind::Materials);
  e.cause = std::move(idmap);
  return e;
}

WorldError WorldError::fluids(SourcePtr fluidmap) {
  auto e = make(WorldErrorKind::Fluids);
  e.cause = std::move(fluidmap);
  return e;
}

WorldError WorldError::fluid_id(coords::ChunkPos pos, SourcePtr unmapped) {
  auto e = make(WorldErrorKind::FluidId);
  e.pos = pos;
  e.cause = std::move(unmapped);
  return e;
}

WorldError WorldError::schema_version(std::int64_t found, std::int64_t expected) {
  auto e = make(WorldErrorKind::SchemaVersion);
  e.found = found;
  e.expected = expected;
  return e;
}

WorldError WorldError::overworld_is_not_destroyable() {
  return make(WorldErrorKind::OverworldIsNotDestroyable);
}

WorldError WorldError::no_such_level(std::uint8_t level) {
  auto e = make(WorldErrorKind::NoSuchLevel);
  e.level = level;
  return e;
}

WorldError WorldError::no_voxels(std::string domain) {
  auto e = make(WorldErrorKind::NoVoxels);
  e.domain = std::move(domain);
  return e;
}

WorldError WorldError::world_option(std::string id, std::string reason) {
  auto e = make(WorldErrorKind::WorldOption);
  e.key = std::move(id);
  e.reason = std::move(reason);
  return e;
}

WorldError WorldError::fluid_kept(coords::ChunkPos pos, std::string domain) {
  auto e = make(WorldErrorKind::FluidKept);
  e.pos = pos;
  e.domain = std::move(domain);
  return e;
}

std::string WorldError::message() const {
  switch (kind) {
    case WorldErrorKind::Sql:
      return "world database error";
    case WorldErrorKind::Chunk:
      return fmt::format("chunk at ({}, {}, {}) in domain `{}`", pos.x, pos.y, pos.z, domain);
    case WorldErrorKind::Fluid:
      return fmt::format("fluid for chunk at ({}, {}, {}) in domain `{}`", pos.x, pos.y, pos.z,
                         domain);
    case WorldErrorKind::Entity:
      return fmt::format("entity in chunk ({}, {}, {}) in domain `{}`: {}", pos.x, pos.y, pos.z,
                         domain, reason);
    case WorldErrorKind::ModStorage:
      return fmt::format("mod `{}` storage key `{}`: {}", mod_id, key, reason);
    case WorldErrorKind::Player:
      return fmt::format("player `{}`: {}", player, reason);
    case WorldErrorKind::Materials:
      return "material id mapping failed";
    case WorldErrorKind::Fluids:
      return "fluid id mapping failed";
    case WorldErrorKind::FluidId:
      return fmt::format("fluid for chunk at ({}, {}, {})", pos.x, pos.y, pos.z);
    case WorldErrorKind::SchemaVersion:
      return fmt::format(
          "world uses schema version {}, but this build understands {} — the world was created "
          "by a different engine version",
          found, expected);
    case WorldErrorKind::OverworldIsNotDestroyable:
      return fmt::format(
          "`{}` cannot be destroyed: it is the domain every chunk written before domains existed "
          "belongs to, so deleting it means deleting the world",
          "overworld");
    case WorldErrorKind::NoSuchLevel:
      return fmt::format("there is no LOD level {}; levels run {}..={}", level, 1, 5);
    case WorldErrorKind::NoVoxels:
      return fmt::format("domain `{}` holds no voxels; it takes entities and nothing else", domain);
    case WorldErrorKind::WorldOption:
      return fmt::format("world option `{}`: {}", key, reason);
    case WorldErrorKind::FluidKept:
      return fmt::format(
          "fluid for chunk at ({}, {}, {}) in domain `{}` could not be read; the stored layer is kept and "
          "not overwritten",
          pos.x, pos.y, pos.z, domain);
  }
  return "world database error";
}

std::string WorldError::debug() const {
  std::string out = fmt::format("WorldError::{}", kKindNames[static_cast<int>(kind)]);
  switch (kind) {
    case WorldErrorKind::Chunk:
    case WorldErrorKind::Fluid:
    case WorldErrorKind::Entity:
    case WorldErrorKind::FluidKept:
      out += fmt::format(" {{ pos: ({}, {}, {}), domain: {:?} }}", pos.x, pos.y, pos.z, domain);
      break;
    case WorldErrorKind::FluidId:
      out += fmt::format(" {{ pos: ({}, {}, {}) }}", pos.x, pos.y, pos.z);
      break;
    case WorldErrorKind::ModStorage:
      out += fmt::format(" {{ mod_id: {:?}, key: {:?} }}", mod_id, key);
      break;
    case WorldErrorKind::SchemaVersion:
      out += fmt::format(" {{ found: {}, expected: {} }}", found, expected);
      break;
    case WorldErrorKind::NoSuchLevel:
      out += fmt::format(" {{ level: {} }}", level);
      break;
    default:
      break;
  }
  return out;
}

}  // namespace ostrel_core::persist
