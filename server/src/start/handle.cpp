#include "start/handle.hpp"

#include <algorithm>

namespace ostrel_server::handle {

std::uint8_t clamp_view_distance(std::uint8_t chunks) {
  return std::clamp<std::uint8_t>(chunks, 1, kMaxViewDistance);
}

std::uint8_t clamp_vertical_view_distance(std::uint8_t chunks) {
  return std::clamp<std::uint8_t>(chunks, 1, kMaxVerticalViewDistance);
}

Settings Settings::from_config(const config::Config& config) {
  Settings s;
  s.bind_addr = config.bind_addr;
  s.world_path = config.world_path;
  s.max_players = config.max_players;
  s.seed = config.seed;
  s.world_options.assign(config.world_options.begin(), config.world_options.end());  // map order: ascending
  s.operators = config.operators;
  s.mods_path = config.mods_path;
  s.enabled_mods = config.enabled_mods;
  s.view_distance = clamp_view_distance(config.view_distance);
  s.vertical_view_distance = clamp_vertical_view_distance(config.vertical_view_distance);
  s.rcon = config.rcon;
  return s;
}

}  // namespace ostrel_server::handle
