#pragma once
// Stand-in for the player hub's edit queue interface (hub/edit_queue.hpp, hub/seed.hpp) until
// the hub is built here: the same names, only what the script block writer uses.
// TODO(hub): include "hub/edit_queue.hpp" instead and delete this file.

#include <cstdint>
#include <string_view>
#include <variant>

#include "world/coords.hpp"
#include "world/material.hpp"

namespace ostrel_server::transport::endpoint {

using ostrel_core::coords::BlockPos;
using ostrel_core::coords::SubNodePos;
using ostrel_core::material::MaterialId;

namespace seed {
struct Whole {  // the whole block becomes the material
  MaterialId material = 0;
  BlockPos pos;
  friend bool operator==(const Whole&, const Whole&) = default;
};
struct Cell {  // one cell becomes the material
  MaterialId material = 0;
  SubNodePos pos;
  friend bool operator==(const Cell&, const Cell&) = default;
};
struct Masked {  // the material in the cells of `mask`, the rest air
  MaterialId material = 0;
  BlockPos pos;
  std::uint32_t mask = 0;  // 27-bit occupancy, bit x + 3y + 9z
  friend bool operator==(const Masked&, const Masked&) = default;
};
struct Merge {  // the cells of `mask` filled with the material; the rest of the block stays
  MaterialId material = 0;
  BlockPos pos;
  std::uint32_t mask = 0;
  friend bool operator==(const Merge&, const Merge&) = default;
};
}  // namespace seed

using Seed = std::variant<seed::Whole, seed::Cell, seed::Masked, seed::Merge>;

}  // namespace ostrel_server::transport::endpoint

namespace ostrel_server::plans {

enum class Queued : std::uint8_t {
  Queued,   // applied by the next edits phase
  Full,     // the queue is full now
  Refused,  // never accepted
};

class EditQueue {
 public:
  virtual ~EditQueue() = default;
  virtual Queued queue_seed(std::string_view domain, const transport::endpoint::Seed& seed) = 0;
  virtual Queued queue_merge(std::string_view domain, transport::endpoint::BlockPos pos,
                             transport::endpoint::MaterialId material, std::uint32_t mask) = 0;
  virtual bool is_whole(transport::endpoint::MaterialId material) const = 0;
};

}  // namespace ostrel_server::plans
