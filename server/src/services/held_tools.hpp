#pragma once
// The tool a player holds, as scripts read and set it, on the player hub's records.

#include <memory>

#include "building/dig/tools.hpp"

namespace ostrel_server::transport::endpoint {
class Shared;
}

namespace ostrel_server::handle {

class HeldTools final : public ostrel_core::dig::Tools {
 public:
  explicit HeldTools(std::shared_ptr<transport::endpoint::Shared> hub) : hub_(std::move(hub)) {}

  // None for a player not connected, no tool chosen, or a poisoned lock.
  std::optional<std::string> tool(const ostrel_core::identity::PlayerUuid& player) override;
  // False for a name no tool has, a player not connected or a poisoned lock.
  bool set_tool(const ostrel_core::identity::PlayerUuid& player, std::optional<std::string> tool) override;

 private:
  std::shared_ptr<transport::endpoint::Shared> hub_;
};

}  // namespace ostrel_server::handle
