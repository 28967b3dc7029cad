#pragma once
// The item a client asks to place, in this run's material ids. The request names the world's
// stored ids; an id this run cannot translate makes the whole claim answer nothing.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "building/inventory/stack.hpp"

namespace ostrel_server::transport::endpoint {
class Shared;
struct PlacementRequest;
}  // namespace ostrel_server::transport::endpoint

namespace ostrel_server::placing {

using ostrel_core::material::MaterialId;

// The identity of a stack without its units.
struct PlacedItem {
  MaterialId material = 0;                         // for a cut of several, its lowest material
  std::optional<std::uint32_t> shape;              // a partial shape, 1..=0x7FFFFFE
  std::optional<ostrel_core::block::Cells> cells;  // a cut of several materials
  std::optional<std::string> detail;
  friend bool operator==(const PlacedItem&, const PlacedItem&) = default;
};

// Cells beyond the first 27 are ignored; fewer are filled with air.
std::optional<PlacedItem> claim(const transport::endpoint::Shared& hub,
                                const transport::endpoint::PlacementRequest& request);

}  // namespace ostrel_server::placing
