#pragma once
// What players carry, as scripts read and change it: every call forwards to the player hub,
// which keeps each connected player's slots under its inventories lock.

#include <memory>

#include "building/inventory/access.hpp"

namespace ostrel_server::transport::endpoint {
class Shared;
}

namespace ostrel_server::handle {

using ostrel_core::inventory::PlayerUuid;
using ostrel_core::inventory::Stack;

class Carried final : public ostrel_core::inventory::Access {
 public:
  explicit Carried(std::shared_ptr<transport::endpoint::Shared> hub) : hub_(std::move(hub)) {}

  std::vector<Stack> contents(const PlayerUuid& player, std::string_view view) override;
  // With a slot all or nothing; without one through insert_within, which never grows a view
  // past 256 slots: the rest is answered.
  std::uint32_t give(const PlayerUuid& player, std::string_view view, std::optional<std::size_t> slot,
                     Stack stack) override;
  std::optional<Stack> held(const PlayerUuid& player) override;
  std::optional<Stack> slot(const PlayerUuid& player, std::string_view view, std::size_t index) override;
  std::uint32_t take(const PlayerUuid& player, std::string_view view, std::optional<std::size_t> slot,
                     const Stack& like, std::uint32_t units) override;

 private:
  std::shared_ptr<transport::endpoint::Shared> hub_;
};

}  // namespace ostrel_server::handle
