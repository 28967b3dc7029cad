#pragma once
// Edits: the scripts' block writer. It only queues: each write goes into the player hub's edit
// queue by block name, and the next tick applies it and wakes the fluid there.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "hub/edit_queue.hpp"
#include "script/vm.hpp"
#include "world/coords.hpp"
#include "world/material.hpp"

namespace ostrel_server::fluid {

class Edits final : public ostrel_core::script::vm::WorldEdit {
 public:
  // `blocks`: every registered block name with its material.
  Edits(std::shared_ptr<plans::EditQueue> hub, std::map<std::string, ostrel_core::material::MaterialId, std::less<>> blocks)
      : hub_(std::move(hub)), blocks_(std::move(blocks)) {}

  // Each answers whether the hub queued the write; a name nothing registered queues nothing.
  // "engine:air" is material 0 whatever `blocks` holds.
  bool set_block(std::string_view domain, ostrel_core::coords::BlockPos pos, std::string_view block) override;
  bool set_partial(std::string_view domain, ostrel_core::coords::BlockPos pos, std::string_view block,
                   std::uint32_t mask) override;
  bool merge_partial(std::string_view domain, ostrel_core::coords::BlockPos pos, std::string_view block,
                     std::uint32_t mask) override;

 private:
  std::optional<ostrel_core::material::MaterialId> material_of(std::string_view block) const;

  std::shared_ptr<plans::EditQueue> hub_;  // the player hub, shared with the whole server
  const std::map<std::string, ostrel_core::material::MaterialId, std::less<>> blocks_;
};

}  // namespace ostrel_server::fluid
