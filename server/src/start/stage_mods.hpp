#pragma once
// The first stage of ServerHandle::start: the world option values the mods load with, the mods
// loaded into the simulation's script engine and frozen, the material registry checked against
// the engine's numbering, the content index with the mod list offered to clients, and the open
// world database.
//
// Every failure ends the stage with a StartError and drops what was built; the only trace left
// on disk is a created world directory and what opening the database itself wrote. A world the
// database refuses (another schema version, a damaged id map) keeps its files unchanged.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "modload/content.hpp"
#include "persist/world_db.hpp"
#include "proto/server.hpp"
#include "script/host.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "start/handle.hpp"
#include "start/start_error.hpp"
#include "world/material.hpp"

namespace ostrel_server::handle {

using Host = ostrel_core::script::host::ModHost<ostrel_core::script::lua_vm::LuaVm>;
using OptionPairs = std::vector<std::pair<std::string, std::string>>;

inline constexpr std::string_view kDatabaseFile = "world.sqlite";
// The limits of every script engine of the server: memory of the whole state, and instructions
// per entry into a script.
inline constexpr std::uint64_t kScriptMemoryLimit = 268'435'456;
inline constexpr std::uint32_t kInstructionBudget = 20'000'000;

// What the first stage hands to the tables and the rest of the assembly.
struct ModsAndWorld {
  ostrel_core::material::Registry registry;        // engine names, the mods' materials, the extras
  std::optional<Host> host;                        // absent without a mods directory
  ostrel_core::content::ContentIndex content;      // every indexed file of the resolved set
  std::vector<ostrel_core::proto::ModEntry> mods;  // load order, failed mods included
  OptionPairs world_options;                       // what the mods were loaded with
  ostrel_core::persist::WorldDb world;             // material ids reconciled with `registry`
};

// The database file: `world_path` joined with "world.sqlite".
std::filesystem::path database_path(const std::filesystem::path& world_path);

// The whole stage, in order.
[[nodiscard]] std::expected<ModsAndWorld, StartError> load_mods_and_world(const Settings& settings);

// ---- The steps, in the order the stage runs them -------------------------------------------

// An existing "world.sqlite" gives exactly what it stores (none when it stores none, or has no
// meta table yet); a new world takes the configured values. Reads nothing else of the world.
[[nodiscard]] std::expected<OptionPairs, StartError> choose_world_options(const Settings& settings);

// Without a mods directory: no host. Otherwise the selected mods loaded with the server's
// limits and `options`, registration frozen, and every mod that failed logged once more.
[[nodiscard]] std::expected<std::optional<Host>, StartError> load_mods(
    const Settings& settings, std::span<const std::pair<std::string, std::string>> options);

// Registers every block and item name in the engine's order. A name the registry numbers
// otherwise than the engine ends start; a name the registry refuses is logged and skipped.
[[nodiscard]] std::expected<void, StartError> register_mod_materials(
    ostrel_core::material::Registry& registry, const ostrel_core::script::lua_vm::LuaVm& vm);

// Indexes each resolved mod's files (its HUD script included), failed mods too, and answers
// the mod list; a mod that cannot be indexed is logged and listed with a zero hash.
std::vector<ostrel_core::proto::ModEntry> index_mods(const Host& host,
                                                     ostrel_core::content::ContentIndex& content);

// "mods loaded and registries frozen", then the warning when the resolved set is empty.
void log_mods_loaded(const Host& host, const ostrel_core::content::ContentIndex& content,
                     const std::filesystem::path& mods_path);

// Registers `names` in order without comparing ids; a refusal is logged and skipped.
void register_extra_materials(ostrel_core::material::Registry& registry, std::span<const std::string> names);

// Creates the world directory when missing and opens "world.sqlite" in it, reconciling the
// stored material ids with `registry`.
[[nodiscard]] std::expected<ostrel_core::persist::WorldDb, StartError> open_world(
    const std::filesystem::path& world_path, ostrel_core::material::Registry& registry);

}  // namespace ostrel_server::handle
