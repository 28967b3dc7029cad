#pragma once
// Reaches the player hub's locks so that a test can fail while holding one, as a panicking
// holder would, and watch the hub carry on with the lock poisoned.

#include <stdexcept>

#include "hub/hub.hpp"

namespace ostrel_server::transport::endpoint {

struct HubProbe {
  enum class Lock {
    Players,
    Online,
    Edits,
    Punches,
    Uses,
    Actions,
    SettingChanges,
    Chat,
    DialogEvents,
    Seeds,
    Placements,
    ChunkRequests,
    Notices,
    Particles,
    Badges,
    EntityMessages,
    SelectedSlots,
    Inventories,
    InventoryDirty,
    Hud,
    SkyModifiers,
    Clouds,
  };

  // Throws while holding the lock and catches the failure outside it.
  static void poison(Shared& hub, Lock which) {
    switch (which) {
      case Lock::Players:
        return fail_under(*hub.players_);
      case Lock::Online:
        return fail_under(hub.online_);
      case Lock::Edits:
        return fail_under(hub.edits_.queue_);
      case Lock::Punches:
        return fail_under(hub.punches_.queue_);
      case Lock::Uses:
        return fail_under(hub.uses_.queue_);
      case Lock::Actions:
        return fail_under(hub.actions_.queue_);
      case Lock::SettingChanges:
        return fail_under(hub.setting_changes_.queue_);
      case Lock::Chat:
        return fail_under(hub.chat_.queue_);
      case Lock::DialogEvents:
        return fail_under(hub.dialog_events_.queue_);
      case Lock::Seeds:
        return fail_under(hub.seeds_.queue_);
      case Lock::Placements:
        return fail_under(hub.placements_.queue_);
      case Lock::ChunkRequests:
        return fail_under(hub.chunk_requests_);
      case Lock::Notices:
        return fail_under(hub.notices_);
      case Lock::Particles:
        return fail_under(hub.particles_);
      case Lock::Badges:
        return fail_under(hub.badges_);
      case Lock::EntityMessages:
        return fail_under(hub.entity_messages_);
      case Lock::SelectedSlots:
        return fail_under(hub.selected_slots_);
      case Lock::Inventories:
        return fail_under(hub.inventories_);
      case Lock::InventoryDirty:
        return fail_under(hub.inventory_dirty_);
      case Lock::Hud:
        return fail_under(hub.hud_);
      case Lock::SkyModifiers:
        return fail_under(hub.sky_modifiers_);
      case Lock::Clouds:
        return fail_under(hub.clouds_);
    }
  }

 private:
  template <class M>
  static void fail_under(M& m) {
    try {
      auto g = m.lock();
      if (!g) return;  // poisoned already
      throw std::runtime_error("failure under a hub lock");
    } catch (const std::runtime_error&) {
    }
  }
};

}  // namespace ostrel_server::transport::endpoint
