#pragma once
// The running server as the process holds it. For now: the start-up settings made from the
// configuration file.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "start/config.hpp"

namespace ostrel_server::handle {

// View distances granted to players, in chunks; 0 counts as 1.
inline constexpr std::uint8_t kMaxViewDistance = 32;
inline constexpr std::uint8_t kMaxVerticalViewDistance = 16;

// Clamps to 1..=kMaxViewDistance.
std::uint8_t clamp_view_distance(std::uint8_t chunks);
// Clamps to 1..=kMaxVerticalViewDistance.
std::uint8_t clamp_vertical_view_distance(std::uint8_t chunks);

// Everything the server needs to start, made from the loaded configuration. Plain value: the
// starter copies what it keeps.
struct Settings {
  config::SocketAddr bind_addr;                  // UDP address of the QUIC endpoint
  std::filesystem::path world_path;              // holds world.sqlite and, by default, the certificate
  std::uint32_t max_players = 0;                 // at least 1 after validation
  std::optional<std::uint64_t> seed;             // absent: 8 bytes from the system's entropy source
  std::vector<std::pair<std::string, std::string>> world_options;  // (option id, value), ascending ids
  std::vector<std::string> operators;            // player ids, still unparsed
  std::optional<std::filesystem::path> mods_path;  // absent: no mods are loaded
  std::optional<std::vector<std::string>> enabled_mods;
  std::uint8_t view_distance = 1;                // chunks, 1..=kMaxViewDistance
  std::uint8_t vertical_view_distance = 1;       // chunks, 1..=kMaxVerticalViewDistance
  std::optional<config::RconConfig> rcon;        // present: the remote console is started
  std::vector<std::string> extra_materials;      // registered after the mods' blocks
  std::optional<std::filesystem::path> cert_dir;   // absent: world_path

  static Settings from_config(const config::Config& config);

  bool operator==(const Settings&) const = default;
};

}  // namespace ostrel_server::handle
