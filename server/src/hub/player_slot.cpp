#include "hub/player_slot.hpp"

#include <utility>

namespace ostrel_server::transport::endpoint {

PlayerSlot PlayerSlot::claim(std::shared_ptr<Shared> hub, const PlayerUuid& player, std::string name) {
  auto claim = hub->next_claim_.fetch_add(1, std::memory_order_relaxed);
  hub->online_count_.fetch_add(1, std::memory_order_acq_rel);
  // Claims racing for one player: the newest claim wins both maps, whichever lands first.
  if (auto online = hub->online_.lock()) {
    auto it = (*online)->find(player);
    if (it == (*online)->end() || it->second.claim < claim) {
      (*online)->insert_or_assign(player, Shared::Presence{std::move(name), claim});
    }
  }
  // Always, even with the presence map poisoned: the record carries the claim too.
  hub->add_player_claimed(player, hub->spawn(), claim);
  return PlayerSlot(std::move(hub), player, claim);
}

PlayerSlot::PlayerSlot(PlayerSlot&& other) noexcept
    : hub_(std::move(other.hub_)), player_(other.player_), claim_(other.claim_) {}

PlayerSlot::~PlayerSlot() {
  if (!hub_) return;
  hub_->online_count_.fetch_sub(1, std::memory_order_acq_rel);
  // Only the claim that owns the presence removes it; a superseded slot leaves the newer one's
  // name and record alone. Each map decides by the claim it recorded.
  bool owner = false;
  if (auto online = hub_->online_.lock()) {
    auto it = (*online)->find(player_);
    if (it != (*online)->end() && it->second.claim == claim_) {
      (*online)->erase(it);
      owner = true;
    }
  }
  if (auto players = hub_->players_->lock()) {
    auto it = (*players)->find(player_);
    if (it != (*players)->end() && it->second.claim == claim_) {
      (*players)->erase(it);
      owner = true;
    }
  }
  if (owner) hub_->forget_player_state(player_);
}

bool PlayerSlot::superseded() const {
  auto owner = hub_->owner_claim(player_);
  return owner != claim_;
}

}  // namespace ostrel_server::transport::endpoint
