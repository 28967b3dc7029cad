#pragma once
// PlayerSlot: one player's presence in the hub.

#include <memory>
#include <string>

#include "hub/hub.hpp"

namespace ostrel_server::transport::endpoint {

// One player's presence, held by its connection task from the moment the player enters the
// world. Claiming counts the player in `online_count`, records the display name and gives the
// player a fresh record at the spawn; dropping undoes all three. A second claim for a player
// already present supersedes the first: the newer slot owns the presence and a fresh record,
// and the older slot's drop only lowers the count.
class PlayerSlot {
 public:
  static PlayerSlot claim(std::shared_ptr<Shared> hub, const PlayerUuid& player, std::string name);
  PlayerSlot(PlayerSlot&& other) noexcept;
  PlayerSlot& operator=(PlayerSlot&&) = delete;
  PlayerSlot(const PlayerSlot&) = delete;
  PlayerSlot& operator=(const PlayerSlot&) = delete;
  ~PlayerSlot();

  const PlayerUuid& player() const { return player_; }
  // True once a newer claim for the same player owns the presence.
  bool superseded() const;

 private:
  PlayerSlot(std::shared_ptr<Shared> hub, const PlayerUuid& player, std::uint64_t claim)
      : hub_(std::move(hub)), player_(player), claim_(claim) {}
  std::shared_ptr<Shared> hub_;  // null once moved from
  PlayerUuid player_;
  std::uint64_t claim_;
};

}  // namespace ostrel_server::transport::endpoint
