// World's pass-through of player and container records.

#include <fmt/format.h>

#include "base/log.hpp"
#include "persist/rows/container_rows.hpp"
#include "persist/rows/player_rows.hpp"
#include "world/world.hpp"

namespace ostrel_server::world {
namespace {

namespace log = ostrel_core::log;
namespace persist = ostrel_core::persist;

constexpr std::size_t kDefaultContainerSlots = 256;

}  // namespace

std::expected<std::optional<persist::playerdata::Decoded>, WorldError> World::load_player_slots(
    const ostrel_core::identity::PlayerUuid& player,
    const ostrel_core::inventory::slots::Slots& template_slots) {
  const std::string id = player.to_hex();
  auto row =
      sqlclock::timed(calls_, "load player", [&] { return persist::player_rows::load_player(db_, id); });
  if (!row) return std::unexpected(row.error());
  if (!*row) return std::nullopt;
  auto decoded = persist::player_rows::slots_of_row(id, **row, template_slots, db_.materials());
  if (!decoded) return std::unexpected(decoded.error());
  return std::move(*decoded);
}

std::expected<void, WorldError> World::save_player_slots(const ostrel_core::identity::PlayerUuid& player,
                                                         const ostrel_core::inventory::slots::Slots& slots) {
  const std::string id = player.to_hex();
  auto data = persist::player_rows::row_data(slots, db_.materials());
  if (data.dropped > 0) {
    OSTREL_WARN("ostrel_server::world",
                "some stacks hold a material this world cannot name and were not saved",
                log::text("player", id), log::value("dropped", data.dropped));
  }
  return sqlclock::timed(calls_, "save player", [&] {
    return persist::player_rows::save_player(db_, id, persist::playerdata::kPlayerVersion, data.bytes);
  });
}

std::expected<World::Containers, WorldError> World::load_containers(
    const std::function<std::optional<std::size_t>(std::string_view)>& slot_count) {
  auto rows = sqlclock::timed(calls_, "load containers",
                              [&] { return persist::container_rows::load_containers(db_); });
  if (!rows) return std::unexpected(rows.error());
  Containers out;
  for (const auto& [name, data] : *rows) {
    if (data.empty()) {
      OSTREL_WARN("ostrel_server::world", "a container row is empty and was skipped",
                  log::text("container", name));
      continue;
    }
    const std::size_t slots = slot_count(name).value_or(kDefaultContainerSlots);
    auto decoded =
        persist::containers::decode(data[0], std::span(data).subspan(1), name, slots, db_.materials());
    if (!decoded) {
      OSTREL_WARN("ostrel_server::world",
                  fmt::format("could not read a container: {}", decoded.error().message()),
                  log::text("container", name));
      continue;
    }
    out.dropped += decoded->dropped;
    out.containers.push_back(std::move(*decoded));
  }
  return out;
}

std::expected<void, WorldError> World::save_container(std::string_view name,
                                                      const ostrel_core::inventory::slots::View& view) {
  auto encoded = persist::containers::encode(view, db_.materials());
  if (encoded.dropped > 0) {
    OSTREL_WARN("ostrel_server::world",
                "some stacks hold a material this world cannot name and were not saved",
                log::text("container", name), log::value("dropped", encoded.dropped));
  }
  std::vector<std::uint8_t> data;
  data.reserve(1 + encoded.bytes.size());
  data.push_back(persist::containers::kContainerVersion);
  data.insert(data.end(), encoded.bytes.begin(), encoded.bytes.end());
  return sqlclock::timed(calls_, "save container", [&] {
    return persist::container_rows::save_container(db_, name, persist::containers::kContainerVersion, data);
  });
}

std::expected<void, WorldError> World::delete_container(std::string_view name) {
  return sqlclock::timed(calls_, "delete container",
                         [&] { return persist::container_rows::delete_container(db_, name); });
}

}  // namespace ostrel_server::world
