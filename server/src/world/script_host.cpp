#include "world/script_host.hpp"

#include <algorithm>

#include "world/material.hpp"

namespace ostrel_server::world {

std::expected<ScriptHost::Chunk, ScriptError> LuaHost::generate_chunk(std::string_view domain,
                                                                      std::uint64_t seed, ChunkPos pos) {
  auto got = host_.vm.generate_chunk(domain, seed, pos, ostrel_core::material::kAir);
  if (!got) return std::unexpected(std::move(got.error()));
  return Chunk{std::move(got->chunk), std::move(got->fluid)};
}

std::expected<Tint, ScriptError> LuaHost::chunk_tint(std::string_view domain, std::uint64_t seed,
                                                     ChunkPos pos) {
  return host_.vm.chunk_tint(domain, seed, pos);
}

std::expected<std::optional<ostrel_core::proto::ChunkFog>, ScriptError> LuaHost::chunk_fog(
    std::string_view domain, std::uint64_t seed, ChunkPos pos) {
  return host_.vm.chunk_fog(domain, seed, pos);
}

void LuaHost::fault(std::string_view mod_id) { host_.vm.fault(mod_id); }

std::vector<std::string> LuaHost::faulted_mods() const { return host_.vm.faulted_mods(); }

std::expected<std::vector<ScriptError>, ScriptError> LuaHost::tick(std::uint64_t steps) {
  const auto dt = static_cast<std::uint32_t>(std::min<std::uint64_t>(steps, 0xFFFF'FFFFu));
  auto faults = host_.vm.tick(dt);
  if (!faults) return std::unexpected(std::move(faults.error()));
  std::vector<ScriptError> out;
  for (auto& f : *faults) out.push_back(std::move(f.error));
  return out;
}

std::vector<std::string> LuaHost::entity_steppers() const { return host_.vm.entity_steppers(); }

std::expected<std::optional<ScriptError>, ScriptError> LuaHost::entity_step(
    std::string_view mod_id, std::span<const std::uint64_t> entities, std::uint32_t steps) {
  auto got = host_.vm.entity_step(mod_id, entities, steps);
  if (!got) return std::unexpected(std::move(got.error()));
  if (!*got) return std::nullopt;
  return std::move((*got)->error);
}

}  // namespace ostrel_server::world
