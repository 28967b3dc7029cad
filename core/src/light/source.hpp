#pragma once
// The script side's way to light (installed into the script engine's light slot). The server's
// lighting state implements it.

#include <cstdint>
#include <string_view>

#include "world/coords.hpp"

namespace ostrel_core::light {

class LightSource {
 public:
  virtual ~LightSource() = default;
  // The block's light value (sky, red, green, blue nibbles); 0, darkness, wherever nothing is lit.
  virtual std::uint16_t light_at(std::string_view domain, coords::BlockPos pos) = 0;
};

}  // namespace ostrel_core::light
