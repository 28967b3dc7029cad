// What waits in the hub for one player's connection task: entity and single messages, notices,
// particle bursts, badges, and the selected hotbar slot.

#include <utility>

#include "hub/hub.hpp"

namespace ostrel_server::transport::endpoint {

namespace proto = ostrel_core::proto;

EntityPush Shared::push_entity_messages(const PlayerUuid& player, std::vector<EntityMessage> messages) {
  EntityPush out;
  auto g = entity_messages_.lock();
  if (!g) return out;
  auto& box = (**g)[player];
  if (box.replicated + messages.size() <= kMaxReplicationMessages) {
    box.replicated += messages.size();
    for (auto& m : messages) {
      box.frames.push_back(std::move(m.frame));
      box.replication.push_back(true);
      box.despawns.insert(box.despawns.end(), m.despawns.begin(), m.despawns.end());
    }
    return out;
  }
  // Overflow: every replication message goes, the new ones too; single messages stay in order.
  out.overflow = true;
  out.discarded_despawns = std::move(box.despawns);
  for (const auto& m : messages) {
    out.discarded_despawns.insert(out.discarded_despawns.end(), m.despawns.begin(), m.despawns.end());
  }
  std::vector<proto::Frame> kept;
  kept.reserve(box.singles);
  for (std::size_t i = 0; i < box.frames.size(); ++i) {
    if (!box.replication[i]) kept.push_back(std::move(box.frames[i]));
  }
  box.frames = std::move(kept);
  box.replication.assign(box.frames.size(), false);
  box.replicated = 0;
  box.despawns.clear();
  return out;
}

Shared::Single Shared::push_single(const PlayerUuid& player, EntityMessage message) {
  auto g = entity_messages_.lock();
  if (!g) return Single::Poisoned;
  auto& box = (**g)[player];
  if (box.singles >= kMaxSingleMessages) return Single::Full;
  ++box.singles;
  box.frames.push_back(std::move(message.frame));
  box.replication.push_back(false);
  return Single::Taken;
}

bool Shared::push_entity_message(const PlayerUuid& player, EntityMessage message) {
  return push_single(player, std::move(message)) == Single::Full;
}

bool Shared::offer_entity_message(const PlayerUuid& player, EntityMessage message) {
  return push_single(player, std::move(message)) == Single::Taken;
}

std::vector<proto::Frame> Shared::take_entity_messages(const PlayerUuid& player) {
  auto g = entity_messages_.lock();
  if (!g) return {};
  auto node = (*g)->extract(player);
  if (node.empty()) return {};
  return std::move(node.mapped().frames);
}

bool Shared::tell(const PlayerUuid& player, std::string text) {
  if (!is_online(player)) return false;
  auto g = notices_.lock();
  if (!g) return false;
  auto& lines = (**g)[player];
  if (lines.size() >= kMaxNotices) return false;
  lines.push_back(std::move(text));
  return true;
}

std::vector<std::string> Shared::take_notices(const PlayerUuid& player) {
  auto g = notices_.lock();
  if (!g) return {};
  auto node = (*g)->extract(player);
  return node.empty() ? std::vector<std::string>{} : std::move(node.mapped());
}

bool Shared::queue_particles(const PlayerUuid& player, const ostrel_core::particle::Burst& burst) {
  auto g = particles_.lock();
  if (!g) return false;
  auto& list = (**g)[player];
  if (list.size() >= kMaxBursts) return false;
  list.push_back(burst);
  return true;
}

std::vector<ostrel_core::particle::Burst> Shared::take_particles(const PlayerUuid& player) {
  auto g = particles_.lock();
  if (!g) return {};
  auto node = (*g)->extract(player);
  return node.empty() ? std::vector<ostrel_core::particle::Burst>{} : std::move(node.mapped());
}

bool Shared::queue_badge(const PlayerUuid& player, const ostrel_core::particle::Badge& badge) {
  auto g = badges_.lock();
  if (!g) return false;
  auto& pending = (**g)[player];
  if (pending.size() >= kMaxBadgeEntities && !pending.contains(badge.entity)) return false;
  pending.insert_or_assign(badge.entity, badge);
  return true;
}

std::vector<ostrel_core::particle::Badge> Shared::take_badges(const PlayerUuid& player) {
  std::vector<ostrel_core::particle::Badge> out;
  auto g = badges_.lock();
  if (!g) return out;
  auto node = (*g)->extract(player);
  if (node.empty()) return out;
  out.reserve(node.mapped().size());
  for (auto& [entity, badge] : node.mapped()) out.push_back(std::move(badge));
  return out;
}

void Shared::select_slot(const PlayerUuid& player, std::size_t slot) {
  if (auto g = selected_slots_.lock()) (**g)[player] = slot;
}

std::optional<std::size_t> Shared::selected_slot(const PlayerUuid& player) {
  auto g = selected_slots_.lock();
  if (!g) return std::nullopt;
  auto it = (*g)->find(player);
  if (it == (*g)->end()) return std::nullopt;
  return it->second;
}

}  // namespace ostrel_server::transport::endpoint
