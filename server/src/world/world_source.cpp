#include "world/world_source.hpp"

#include <fmt/format.h>

#include "base/log.hpp"
#include "world/material.hpp"

namespace ostrel_server::world {

namespace log = ostrel_core::log;

Generated air_stand_in(ChunkPos pos) {
  return Generated{ostrel_core::chunk::Chunk::filled(pos, ostrel_core::material::kAir), {}, true};
}

ostrel_core::chunk::Chunk Generator::generate(std::string_view domain, ChunkPos pos, std::uint64_t seed) {
  return std::move(generate_with_fluid(domain, pos, seed).chunk);
}

Generated Generator::generate_with_fluid(std::string_view domain, ChunkPos pos, std::uint64_t seed) {
  if (!host_)
    return Generated{ostrel_core::chunk::Chunk::filled(pos, ostrel_core::material::kAir), {}, false};
  auto got = host_->generate_chunk(domain, seed, pos);
  if (got) return Generated{std::move(got->chunk), std::move(got->fluid), false};
  OSTREL_ERROR("ostrel_server::world",
               fmt::format("chunk generation failed, falling back to air: {}", got.error().message()),
               log::text("domain", domain), log::value("pos", pos));
  return air_stand_in(pos);
}

Tint Generator::tint(std::string_view domain, ChunkPos pos, std::uint64_t seed) {
  if (!host_) return kDefaultTint;
  auto got = host_->chunk_tint(domain, seed, pos);
  return got ? *got : kDefaultTint;
}

std::optional<ostrel_core::proto::ChunkFog> Generator::fog(std::string_view domain, ChunkPos pos,
                                                           std::uint64_t seed) {
  if (!host_) return std::nullopt;
  auto got = host_->chunk_fog(domain, seed, pos);
  return got ? *got : std::nullopt;
}

void Generator::fault(std::string_view mod_id) {
  if (host_) host_->fault(mod_id);
}

std::vector<std::string> Generator::faulted() {
  return host_ ? host_->faulted_mods() : std::vector<std::string>{};
}

std::vector<ScriptError> Generator::tick(std::uint64_t tick) {
  if (!host_) return {};
  auto got = host_->tick(tick);
  if (got) return std::move(*got);
  OSTREL_WARN("ostrel_server::world", fmt::format("script VM failed during tick: {}", got.error().message()));
  return {};
}

std::vector<ScriptError> Generator::entity_step(
    const std::map<std::string, std::vector<std::uint64_t>, std::less<>>& entities, std::uint32_t steps) {
  std::vector<ScriptError> failed;
  if (!host_) return failed;
  for (const std::string& mod_id : host_->entity_steppers()) {
    auto entry = entities.find(mod_id);
    if (entry == entities.end()) continue;
    auto ran = host_->entity_step(mod_id, entry->second, steps);
    if (!ran) {
      OSTREL_WARN("ostrel_server::world",
                  fmt::format("script VM failed during an entity step: {}", ran.error().message()));
      continue;
    }
    if (*ran) failed.push_back(std::move(**ran));
  }
  return failed;
}

}  // namespace ostrel_server::world
