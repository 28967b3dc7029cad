// Per-player presentation values: the latest sky modifier, precipitation, rainbow, clouds,
// cloud map and HUD lists, each with a sent mark, so a connection task hands each value out
// once, the latest, and a value set again unchanged costs nothing.
//
// Equality is the records' own: floats compare as numbers (0.0 equals -0.0, a NaN equals
// nothing, so a record holding one always counts as changed), everything else by value.

#include <utility>

#include "hub/hub.hpp"

namespace ostrel_server::transport::endpoint {

namespace proto = ostrel_core::proto;
namespace atmosphere = ostrel_core::atmosphere;

template <class T>
void Shared::set_latest(LatestMap<T>& map, const PlayerUuid& player, std::optional<T> value) {
  auto g = map.lock();
  if (!g) return;
  auto& slot = (**g)[player];  // a new slot: absent and not sent, then overwritten below
  if (slot.sent && slot.value == value) return;
  slot.value = std::move(value);
  slot.sent = false;
}

template <class M, class T>
std::optional<M> Shared::take_unsent(LatestMap<T>& map, const PlayerUuid& player) {
  auto g = map.lock();
  if (!g) return std::nullopt;
  auto it = (*g)->find(player);
  if (it == (*g)->end() || it->second.sent) return std::nullopt;
  it->second.sent = true;
  return M{it->second.value};
}

void Shared::set_sky_modifier(const PlayerUuid& player, std::optional<atmosphere::SkyModifier> v) {
  set_latest(sky_modifiers_, player, std::move(v));
}
void Shared::set_precipitation(const PlayerUuid& player, std::optional<atmosphere::Precipitation> v) {
  set_latest(precipitation_, player, std::move(v));
}
void Shared::set_rainbow(const PlayerUuid& player, std::optional<atmosphere::Rainbow> v) {
  set_latest(rainbows_, player, std::move(v));
}
void Shared::set_clouds(const PlayerUuid& player, std::optional<atmosphere::Clouds> v) {
  set_latest(clouds_, player, std::move(v));
}
void Shared::set_cloud_map(const PlayerUuid& player, std::optional<atmosphere::CloudMap> v) {
  set_latest(cloud_maps_, player, std::move(v));
}

std::optional<proto::server::SetSkyModifier> Shared::unsent_sky_modifier(const PlayerUuid& player) {
  return take_unsent<proto::server::SetSkyModifier>(sky_modifiers_, player);
}
std::optional<proto::server::SetPrecipitation> Shared::unsent_precipitation(const PlayerUuid& player) {
  return take_unsent<proto::server::SetPrecipitation>(precipitation_, player);
}
std::optional<proto::server::SetRainbow> Shared::unsent_rainbow(const PlayerUuid& player) {
  return take_unsent<proto::server::SetRainbow>(rainbows_, player);
}
std::optional<proto::server::SetClouds> Shared::unsent_clouds(const PlayerUuid& player) {
  return take_unsent<proto::server::SetClouds>(clouds_, player);
}
std::optional<proto::server::SetCloudMap> Shared::unsent_cloud_map(const PlayerUuid& player) {
  return take_unsent<proto::server::SetCloudMap>(cloud_maps_, player);
}

void Shared::set_hud_values(const PlayerUuid& player, std::string_view slot_name, HudMap values) {
  auto g = hud_.lock();
  if (!g) return;
  auto& slots = (**g)[player];
  auto it = slots.find(slot_name);
  if (it == slots.end()) it = slots.emplace(std::string(slot_name), HudSlot{}).first;
  HudSlot& slot = it->second;
  if (slot.sent && slot.values == values) return;
  slot.values = std::move(values);
  slot.sent = false;
}

std::vector<proto::server::HudValues> Shared::unsent_hud_values(const PlayerUuid& player) {
  std::vector<proto::server::HudValues> out;
  auto g = hud_.lock();
  if (!g) return out;
  auto it = (*g)->find(player);
  if (it == (*g)->end()) return out;
  for (auto& [name, slot] : it->second) {
    if (slot.sent) continue;
    slot.sent = true;
    proto::server::HudValues m{.slot = name};
    m.values.assign(slot.values.begin(), slot.values.end());
    out.emplace_back(std::move(m));
  }
  return out;
}

void Shared::forget_sky_modifier(const PlayerUuid& player) {
  if (auto g = sky_modifiers_.lock()) (*g)->erase(player);
}
void Shared::forget_precipitation(const PlayerUuid& player) {
  if (auto g = precipitation_.lock()) (*g)->erase(player);
}
void Shared::forget_rainbow(const PlayerUuid& player) {
  if (auto g = rainbows_.lock()) (*g)->erase(player);
}
void Shared::forget_clouds(const PlayerUuid& player) {
  if (auto g = clouds_.lock()) (*g)->erase(player);
  if (auto g = cloud_maps_.lock()) (*g)->erase(player);
}
void Shared::forget_hud_values(const PlayerUuid& player) {
  if (auto g = hud_.lock()) (*g)->erase(player);
}

}  // namespace ostrel_server::transport::endpoint
