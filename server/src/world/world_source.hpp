#pragma once
// ChunkSource: how the world obtains a chunk that is neither resident nor stored, and how chunk
// serving obtains a chunk's tint and fog. Generator is its implementation over the simulation
// thread's script host; without a host every operation answers its default.

#include <array>
#include <cstdint>
#include <expected>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "world/chunk.hpp"
#include "world/coords.hpp"
#include "fluid/layer.hpp"
#include "proto/records/sky.hpp"
#include "script/vm.hpp"

namespace ostrel_server::world {

using ostrel_core::coords::ChunkPos;
using ScriptError = ostrel_core::script::vm::ScriptError;
using Tint = std::array<std::uint8_t, 3>;  // red, green, blue

inline constexpr Tint kDefaultTint{128, 128, 128};

// A generated chunk with the fluid its generator poured. `stand_in` marks the all-air chunk
// given in place of one whose generation failed: it must never be stored.
struct Generated {
  ostrel_core::chunk::Chunk chunk;
  ostrel_core::fluid::layer::FluidLayer fluid;
  bool stand_in = false;
};

// The all-air chunk at `pos` with an empty fluid layer.
Generated air_stand_in(ChunkPos pos);

class ChunkSource {
 public:
  virtual ~ChunkSource() = default;
  virtual ostrel_core::chunk::Chunk generate(std::string_view domain, ChunkPos pos, std::uint64_t seed) = 0;
  virtual Generated generate_with_fluid(std::string_view domain, ChunkPos pos, std::uint64_t seed) = 0;
  virtual Tint tint(std::string_view domain, ChunkPos pos, std::uint64_t seed) = 0;
  virtual std::optional<ostrel_core::proto::ChunkFog> fog(std::string_view domain, ChunkPos pos,
                                                          std::uint64_t seed) = 0;
  virtual void fault(std::string_view mod_id) = 0;
  virtual std::vector<std::string> faulted() = 0;
};

// The engine operations the generator uses; the script engine's mod host implements them.
class ScriptHost {
 public:
  struct Chunk {
    ostrel_core::chunk::Chunk chunk;
    ostrel_core::fluid::layer::FluidLayer fluid;
  };
  virtual ~ScriptHost() = default;
  virtual std::expected<Chunk, ScriptError> generate_chunk(std::string_view domain, std::uint64_t seed,
                                                           ChunkPos pos) = 0;
  virtual std::expected<Tint, ScriptError> chunk_tint(std::string_view domain, std::uint64_t seed,
                                                      ChunkPos pos) = 0;
  virtual std::expected<std::optional<ostrel_core::proto::ChunkFog>, ScriptError> chunk_fog(
      std::string_view domain, std::uint64_t seed, ChunkPos pos) = 0;
  virtual void fault(std::string_view mod_id) = 0;
  virtual std::vector<std::string> faulted_mods() const = 0;
  // The hooks that failed, or the engine's own failure.
  virtual std::expected<std::vector<ScriptError>, ScriptError> tick(std::uint64_t tick) = 0;
  // The mods that registered an entity stepper, in the engine's order.
  virtual std::vector<std::string> entity_steppers() const = 0;
  // Steps one mod's entities: the stepper's failure, or the engine's own failure.
  virtual std::expected<std::optional<ScriptError>, ScriptError> entity_step(
      std::string_view mod_id, std::span<const std::uint64_t> entities, std::uint32_t steps) = 0;
};

class Generator final : public ChunkSource {
 public:
  explicit Generator(std::unique_ptr<ScriptHost> host = nullptr) : host_(std::move(host)) {}

  ostrel_core::chunk::Chunk generate(std::string_view domain, ChunkPos pos, std::uint64_t seed) override;
  // A script failure gives the all-air stand-in, logged at ERROR with the position.
  Generated generate_with_fluid(std::string_view domain, ChunkPos pos, std::uint64_t seed) override;
  Tint tint(std::string_view domain, ChunkPos pos, std::uint64_t seed) override;
  std::optional<ostrel_core::proto::ChunkFog> fog(std::string_view domain, ChunkPos pos,
                                                  std::uint64_t seed) override;
  void fault(std::string_view mod_id) override;
  std::vector<std::string> faulted() override;
  // The failures of the tick's hooks; an engine failure is logged and answers none.
  std::vector<ScriptError> tick(std::uint64_t tick);
  // Runs the stepper of every mod that has one and an entry in `entities`, in the engine's
  // order; answers the steppers' failures. An engine failure is logged and the next mod runs.
  std::vector<ScriptError> entity_step(
      const std::map<std::string, std::vector<std::uint64_t>, std::less<>>& entities, std::uint32_t steps);

 private:
  std::unique_ptr<ScriptHost> host_;  // none: defaults throughout
};

}  // namespace ostrel_server::world
