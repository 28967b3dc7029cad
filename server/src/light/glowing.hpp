#pragma once
// What lighting asks of a domain's fluid: where fluid is, what block each fluid is drawn as (a
// fluid glows with that block's light) and how much light it takes out. A domain's fluid state
// implements it; `Dry` stands in for a domain without fluid.

#include <cstdint>
#include <optional>

#include "fluid/fluid.hpp"
#include "fluid/layer.hpp"
#include "world/coords.hpp"
#include "world/material.hpp"

namespace ostrel_server::light {

using ostrel_core::coords::ChunkPos;
using ostrel_core::fluid::FluidId;
using ostrel_core::fluid::layer::FluidLayer;
using ostrel_core::material::MaterialId;

class Glowing {
 public:
  virtual ~Glowing() = default;
  // The chunk's fluid, or null. Valid until the fluid state next changes.
  virtual const FluidLayer* layer(ChunkPos pos) const = 0;
  // The material the fluid is drawn as; none for an id the registry does not hold.
  virtual std::optional<MaterialId> material(FluidId id) const = 0;
  // Light levels a block of the fluid takes out; 0 for an id the registry does not hold.
  virtual std::uint8_t falloff(FluidId id) const = 0;
  // Whether any fluid takes light out; when not, lighting never looks at fluid for falloff.
  virtual bool any_falloff() const = 0;
};

// No fluid anywhere.
class Dry final : public Glowing {
 public:
  const FluidLayer* layer(ChunkPos) const override { return nullptr; }
  std::optional<MaterialId> material(FluidId) const override { return std::nullopt; }
  std::uint8_t falloff(FluidId) const override { return 0; }
  bool any_falloff() const override { return false; }
};

}  // namespace ostrel_server::light
