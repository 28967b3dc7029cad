#pragma once
// The way plan stamping writes blocks: seeds and merges for the tick to apply. The player hub
// implements it.

#include <cstdint>
#include <string_view>

#include "hub/seed.hpp"

namespace ostrel_server::plans {

// The answer to one write.
enum class Queued : std::uint8_t {
  Queued,   // it will be applied by the next edits phase
  Full,     // the queue is full now; the same write may be offered again later
  Refused,  // it will never be accepted (a whole material's rule, or a queue broken for good)
};

class EditQueue {
 public:
  virtual ~EditQueue() = default;
  // One seed (a merge is treated as queue_merge treats it).
  virtual Queued queue_seed(std::string_view domain, const transport::endpoint::Seed& seed) = 0;
  // Fills the cells of `mask` with `material`, keeping the block's other cells.
  virtual Queued queue_merge(std::string_view domain, transport::endpoint::BlockPos pos,
                             transport::endpoint::MaterialId material, std::uint32_t mask) = 0;
  // Whether the material is registered whole (it comes off and goes down in one piece).
  virtual bool is_whole(transport::endpoint::MaterialId material) const = 0;
};

}  // namespace ostrel_server::plans
