#include "start/stage_mods.hpp"

#include <fmt/format.h>
#include <sqlite3.h>

#include <system_error>

#include "base/log.hpp"
#include "persist/sqlite.hpp"
#include "script/api/media.hpp"
#include "script/read/records.hpp"

namespace ostrel_server::handle {

namespace fs = std::filesystem;
namespace log = ostrel_core::log;
namespace persist = ostrel_core::persist;
namespace sqlite = ostrel_core::persist::sqlite;
using ostrel_core::content::ContentIndex;
using ostrel_core::material::Registry;
using ostrel_core::proto::ModEntry;

namespace {

// SQLite reads a name that starts with "file:" as a URI (the connection takes URI names): a
// relative path of that form is handed over as "./file:..." so that it names the file it says.
fs::path sqlite_name(const fs::path& path) {
  const std::string text = path.string();
  if (path.is_relative() && text.starts_with("file:")) return fs::path("./" + text);
  return path;
}

// A NUL byte would cut the path short at every system call: another file than the one named.
bool has_nul(const fs::path& path) { return path.native().find('\0') != std::string::npos; }

StartError cannot_open(const fs::path& db, std::string text) {
  return StartError::world(db,
                           persist::WorldError::sql(sqlite::SqliteError(SQLITE_CANTOPEN, std::move(text))));
}

void log_refused_material(std::string_view name, const ostrel_core::material::RegistryError& e) {
  OSTREL_ERROR(kTarget, fmt::format("could not register material `{}`: {}", name, e.message()));
}

}  // namespace

fs::path database_path(const fs::path& world_path) { return world_path / kDatabaseFile; }

std::expected<OptionPairs, StartError> choose_world_options(const Settings& settings) {
  const fs::path db = database_path(settings.world_path);
  std::error_code ec;
  if (has_nul(db) || !fs::is_regular_file(db, ec)) return settings.world_options;
  auto stored = persist::WorldDb::peek_world_options(sqlite_name(db));
  if (!stored) return std::unexpected(StartError::world(db, persist::WorldError::sql(stored.error())));
  return stored->value_or(OptionPairs{});
}

std::expected<std::optional<Host>, StartError> load_mods(
    const Settings& settings, std::span<const std::pair<std::string, std::string>> options) {
  if (!settings.mods_path) return std::optional<Host>();
  auto host = Host::load_selected_with_options(*settings.mods_path, kScriptMemoryLimit, kInstructionBudget,
                                               settings.enabled_mods, options);
  if (!host) return std::unexpected(StartError::mods(std::move(host.error())));
  if (auto frozen = host->vm.freeze(); !frozen) {
    using ostrel_core::script::host::HostError;
    using ostrel_core::script::host::HostErrorKind;
    return std::unexpected(
        StartError::mods(HostError{HostErrorKind::Script, {}, {}, std::move(frozen.error())}));
  }
  // The host logged each failure as it happened; this line is the start's own account of it.
  for (const auto& e : host->load_errors) {
    OSTREL_ERROR(kTarget, fmt::format("mod failed to load and is disabled: {}", e.error.with_detail()),
                 log::text("mod_id", e.mod_id));
  }
  return std::optional<Host>(std::move(*host));
}

std::expected<void, StartError> register_mod_materials(Registry& registry,
                                                       const ostrel_core::script::lua_vm::LuaVm& vm) {
  for (const auto& [name, script_id] : ostrel_core::script::records::registered_blocks(vm)) {
    auto id = registry.register_material(name);
    if (!id) {
      log_refused_material(name, id.error());
      continue;
    }
    if (*id != script_id) return std::unexpected(StartError::material_mismatch(name, *id, script_id));
  }
  return {};
}

std::vector<ModEntry> index_mods(const Host& host, ContentIndex& content) {
  const auto hud_scripts = ostrel_core::script::media::registered_hud_scripts(host.vm);
  std::vector<ModEntry> mods;
  mods.reserve(host.resolved.mods.size());
  for (const auto& mod : host.resolved.mods) {
    std::vector<std::string> extra;
    for (const auto& s : hud_scripts) {
      if (s.mod_id == mod.id) extra.push_back(s.file);
    }
    ModEntry entry{mod.id, mod.version.to_string(), {}};
    if (auto hash = content.add_mod_with(mod.id, mod.dir, extra)) {
      entry.hash = *hash;
    } else {
      OSTREL_ERROR(
          kTarget,
          fmt::format("could not index mod content, assets will not be pushed: {}", hash.error().message()),
          log::text("mod_id", mod.id));
    }
    mods.push_back(std::move(entry));
  }
  return mods;
}

void log_mods_loaded(const Host& host, const ContentIndex& content, const fs::path& mods_path) {
  OSTREL_INFO(kTarget, "mods loaded and registries frozen", log::value("mods", host.resolved.mods.size()),
              log::value("disabled", host.load_errors.size()),
              log::value("blocks", ostrel_core::script::records::registered_blocks(host.vm).size()),
              log::value("content_items", content.files().size()),
              log::value("content_bytes", content.total_bytes()));
  if (host.resolved.mods.empty()) {
    OSTREL_WARN(kTarget,
                "no mods loaded — this world will have no terrain, no tools, and anything already saved "
                "in it will draw as the missing-texture chequer. Check that the mod directory is beside "
                "the working directory and that the mods are not all disabled.",
                log::value("path", mods_path.string()));
  }
}

void register_extra_materials(Registry& registry, std::span<const std::string> names) {
  for (const auto& name : names) {
    if (auto id = registry.register_material(name); !id) log_refused_material(name, id.error());
  }
}

std::expected<persist::WorldDb, StartError> open_world(const fs::path& world_path, Registry& registry) {
  const fs::path db = database_path(world_path);
  if (has_nul(db)) return std::unexpected(cannot_open(db, "the path holds a NUL byte"));
  if (const fs::path dir = db.parent_path(); !dir.empty()) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
      return std::unexpected(cannot_open(db, fmt::format("could not create world directory: {}",
                                                         ostrel_core::IoError::from_code(ec).message())));
    }
  }
  auto conn = sqlite::Connection::open(sqlite_name(db));
  if (!conn) return std::unexpected(StartError::world(db, persist::WorldError::sql(conn.error())));
  auto world = persist::WorldDb::from_connection(std::move(*conn), db, registry);
  if (!world) return std::unexpected(StartError::world(db, std::move(world.error())));
  return std::move(*world);
}

std::expected<ModsAndWorld, StartError> load_mods_and_world(const Settings& settings) {
  Registry registry;
  ContentIndex content;
  std::vector<ModEntry> mods;
  auto options = choose_world_options(settings);
  if (!options) return std::unexpected(std::move(options.error()));
  auto host = load_mods(settings, *options);
  if (!host) return std::unexpected(std::move(host.error()));
  if (*host) {
    if (auto r = register_mod_materials(registry, (*host)->vm); !r)
      return std::unexpected(std::move(r.error()));
    mods = index_mods(**host, content);
    log_mods_loaded(**host, content, *settings.mods_path);
  }
  register_extra_materials(registry, settings.extra_materials);
  auto world = open_world(settings.world_path, registry);
  if (!world) return std::unexpected(std::move(world.error()));
  return ModsAndWorld{std::move(registry), std::move(*host),    std::move(content),
                      std::move(mods),     std::move(*options), std::move(*world)};
}

}  // namespace ostrel_server::handle
