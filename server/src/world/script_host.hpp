#pragma once
// LuaHost: the simulation thread's script engine as the world's ScriptHost: the mod host with
// its loaded engine, generating with air as the start material.

#include <memory>

#include "script/host.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "world/world_source.hpp"

namespace ostrel_server::world {

class LuaHost final : public ScriptHost {
 public:
  using Host = ostrel_core::script::host::ModHost<ostrel_core::script::lua_vm::LuaVm>;

  explicit LuaHost(Host host) : host_(std::move(host)) {}

  ostrel_core::script::lua_vm::LuaVm& vm() { return host_.vm; }

  std::expected<Chunk, ScriptError> generate_chunk(std::string_view domain, std::uint64_t seed,
                                                   ChunkPos pos) override;
  std::expected<Tint, ScriptError> chunk_tint(std::string_view domain, std::uint64_t seed,
                                              ChunkPos pos) override;
  std::expected<std::optional<ostrel_core::proto::ChunkFog>, ScriptError> chunk_fog(std::string_view domain,
                                                                                    std::uint64_t seed,
                                                                                    ChunkPos pos) override;
  void fault(std::string_view mod_id) override;
  std::vector<std::string> faulted_mods() const override;
  // Runs the tick hooks once with `steps` (saturated to 32 bits); the mods' failures.
  std::expected<std::vector<ScriptError>, ScriptError> tick(std::uint64_t steps) override;
  std::vector<std::string> entity_steppers() const override;
  std::expected<std::optional<ScriptError>, ScriptError> entity_step(std::string_view mod_id,
                                                                     std::span<const std::uint64_t> entities,
                                                                     std::uint32_t steps) override;

 private:
  Host host_;
};

}  // namespace ostrel_server::world
