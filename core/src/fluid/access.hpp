#pragma once
// The script side's way to fluid (installed into the script engine's fluid slot). The server's
// fluid stores implement it.

#include <optional>
#include <string_view>

#include "fluid/fluid.hpp"
#include "world/coords.hpp"

namespace ostrel_core::fluid {

class Access {
 public:
  virtual ~Access() = default;
  // The block's state; 0 for a domain without fluid or a place nothing holds.
  virtual Fluid fluid_at(std::string_view domain, coords::BlockPos pos) = 0;
  // Replaces the block's state; answers whether it changed. The change is saved and the block
  // and its neighbours wake for the next fluid step.
  virtual bool set_fluid_at(std::string_view domain, coords::BlockPos pos, Fluid state) = 0;
  // The id of a registered (or placeholder) fluid, by its qualified name.
  virtual std::optional<FluidId> fluid_id(std::string_view name) = 0;
};

}  // namespace ostrel_core::fluid
