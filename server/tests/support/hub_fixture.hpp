#pragma once
// Small helpers for player hub tests: player ids and a hub built from chosen tables.

#include <cstdint>
#include <memory>

#include "hub/hub.hpp"
#include "hub/player_slot.hpp"

namespace ostrel_server::test {

// A player id whose bytes are all `n`.
inline ostrel_core::identity::PlayerUuid player(std::uint8_t n) {
  ostrel_core::identity::PlayerUuid p;
  p.bytes.fill(n);
  return p;
}

inline std::shared_ptr<transport::endpoint::Shared> make_hub(transport::endpoint::HubInit init = {}) {
  return transport::endpoint::Shared::create(std::move(init));
}

}  // namespace ostrel_server::test
