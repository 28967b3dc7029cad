#include "world/records.hpp"

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

void warn_dropped(const char* field, std::string_view name, std::size_t dropped) {
  if (dropped == 0) return;
  OSTREL_WARN("ostrel_server::world", "some stacks hold a material this world cannot name and were not saved",
              log::text(field, name), log::value("dropped", dropped));
}

}  // namespace

std::expected<std::optional<persist::playerdata::Decoded>, WorldError> load_player_slots(
    World& world, const ostrel_core::identity::PlayerUuid& player,
    const ostrel_core::inventory::slots::Slots& template_slots) {
  const std::string id = player.to_hex();
  auto row = sqlclock::timed(world.calls(), "load player",
                             [&] { return persist::player_rows::load_player(world.db(), id); });
  if (!row) return std::unexpected(row.error());
  if (!*row) return std::nullopt;
  auto decoded = persist::player_rows::slots_of_row(id, **row, template_slots, world.db().materials());
  if (!decoded) return std::unexpected(decoded.error());
  return std::move(*decoded);
}

std::expected<void, WorldError> save_player_slots(World& world,
                                                  const ostrel_core::identity::PlayerUuid& player,
                                                  const ostrel_core::inventory::slots::Slots& slots) {
  const std::string id = player.to_hex();
  auto data = persist::player_rows::row_data(slots, world.db().materials());
  warn_dropped("player", id, data.dropped);
  return sqlclock::timed(world.calls(), "save player", [&] {
    return persist::player_rows::save_player(world.db(), id, persist::playerdata::kPlayerVersion, data.bytes);
  });
}

std::expected<Containers, WorldError> load_containers(
    World& world, const std::function<std::optional<std::size_t>(std::string_view)>& slot_count) {
  auto rows = sqlclock::timed(world.calls(), "load containers",
                              [&] { return persist::container_rows::load_containers(world.db()); });
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
        persist::containers::decode(data[0], std::span(data).subspan(1), name, slots, world.db().materials());
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

std::expected<void, WorldError> save_container(World& world, std::string_view name,
                                               const ostrel_core::inventory::slots::View& view) {
  auto data = persist::container_rows::row_data(view, world.db().materials());
  warn_dropped("container", name, data.dropped);
  return sqlclock::timed(world.calls(), "save container", [&] {
    return persist::container_rows::save_container(world.db(), name, persist::containers::kContainerVersion,
                                                   data.bytes);
  });
}

std::expected<void, WorldError> delete_container(World& world, std::string_view name) {
  return sqlclock::timed(world.calls(), "delete container",
                         [&] { return persist::container_rows::delete_container(world.db(), name); });
}

std::expected<std::map<std::string, ostrel_core::storage::Value>, WorldError> load_mod_storage(
    World& world, std::string_view mod_id) {
  return sqlclock::timed(world.calls(), "load mod storage",
                         [&] { return persist::mod_rows::load_mod_storage(world.db(), mod_id); });
}

std::expected<void, WorldError> save_mod_storage_changes(
    World& world, std::string_view mod_id, std::span<const persist::mod_rows::StorageChange> changes) {
  return sqlclock::timed(world.calls(), "save mod storage", [&] {
    return persist::mod_rows::save_mod_storage_changes(world.db(), mod_id, changes);
  });
}

std::expected<std::vector<std::string>, WorldError> plan_names(World& world, std::string_view mod_id) {
  return sqlclock::timed(world.calls(), "plan names",
                         [&] { return persist::mod_rows::plan_names(world.db(), mod_id); });
}

std::expected<std::optional<ostrel_core::plan::Plan>, WorldError> load_plan(World& world,
                                                                            std::string_view mod_id,
                                                                            std::string_view name) {
  return sqlclock::timed(world.calls(), "load plan",
                         [&] { return persist::mod_rows::load_plan(world.db(), mod_id, name); });
}

std::expected<void, WorldError> save_plan(World& world, std::string_view mod_id, std::string_view name,
                                          const ostrel_core::plan::Plan& plan) {
  return sqlclock::timed(world.calls(), "save plan",
                         [&] { return persist::mod_rows::save_plan(world.db(), mod_id, name, plan); });
}

std::expected<bool, WorldError> delete_plan(World& world, std::string_view mod_id, std::string_view name) {
  return sqlclock::timed(world.calls(), "delete plan",
                         [&] { return persist::mod_rows::delete_plan(world.db(), mod_id, name); });
}

}  // namespace ostrel_server::world
