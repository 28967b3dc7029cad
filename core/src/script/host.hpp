#pragma once
// ModHost: the one road by which mods become code in a script engine. Scans the mods
// directory, keeps the selected mods, resolves them into a load order, resolves the world
// options, creates the engine and loads every mod in order. A mod whose `init.lua` cannot be
// read, or whose script fails, is disabled (faulted, logged, listed in `load_errors`) and the
// rest of the set goes on; only the directory, resolution and engine creation fail the load.

#include <concepts>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/error.hpp"
#include "modload/manifest.hpp"
#include "modload/resolve.hpp"
#include "script/vm.hpp"

namespace ostrel_core::script::host {

enum class HostErrorKind : std::uint8_t {
  Scan,     // the mods directory could not be read (a manifest refused included)
  Resolve,  // the selected mods do not resolve into a load order
  Script,   // the engine could not be created
};

class HostError {
 public:
  HostErrorKind kind;
  std::string root;  // Scan: the mods directory as text
  SourcePtr cause;   // Scan: the ManifestError; Resolve: the ResolveError
  std::optional<vm::ScriptError> script;  // Script

  // "could not read mods from `{}`", "could not resolve mod dependencies", or the
  // ScriptError's own text.
  std::string message() const;
  // Script: the ScriptError's own source (the Lua error's text).
  const ErrorSource* source() const { return script ? script->source() : cause.get(); }
};

// The engine operations the host drives.
template <class V>
concept HostedVm = requires(V& vm, std::string_view id, std::span<const std::string> deps,
                            std::span<const modload::manifest::ManifestSetting> settings,
                            std::span<const std::pair<std::string,
                                                      modload::manifest::WorldOptionValue>> opts) {
  { V::create(std::uint64_t{}, std::uint32_t{}) } -> std::same_as<std::expected<V, vm::ScriptError>>;
  { vm.set_world_options(opts) } -> std::same_as<void>;
  { vm.add_reference_mod(id) } -> std::same_as<void>;
  { vm.remove_reference_mod(id) } -> std::same_as<void>;
  { vm.note_dependencies(id, deps) } -> std::same_as<void>;
  { vm.declare_manifest_settings(id, settings) } -> std::same_as<void>;
  { vm.load_mod(id, id, id) } -> std::same_as<std::expected<void, vm::ScriptError>>;
  { vm.fault(id) } -> std::same_as<void>;
};

// One mod that did not load, with why.
struct LoadError {
  std::string mod_id;
  vm::ScriptError error;
};

template <HostedVm V>
struct ModHost {
  modload::resolve::ResolvedSet resolved;
  std::vector<LoadError> load_errors;  // load order
  // One per world option a mod of the load order declares: "{mod}:{option}" and its value.
  std::vector<std::pair<std::string, modload::manifest::WorldOptionValue>> option_values;
  V vm;

  // `selection`: the mod ids to load (none: every scanned mod). `options`: (key, text) pairs;
  // the first pair with a key wins, pairs matching no declared option are ignored.
  [[nodiscard]] static std::expected<ModHost, HostError> load_selected_with_options(
      const std::filesystem::path& mods_dir, std::uint64_t memory_limit, std::uint32_t budget,
      const std::optional<std::vector<std::string>>& selection,
      std::span<const std::pair<std::string, std::string>> options);
};

// The steps before the engine exists: scan, select, resolve, resolve world options. Shared by
// every engine type.
struct Prepared {
  std::vector<modload::manifest::DiscoveredMod> selected;  // scan order
  modload::resolve::ResolvedSet resolved;
  std::vector<std::pair<std::string, modload::manifest::WorldOptionValue>> option_values;
};
std::expected<Prepared, HostError> prepare(
    const std::filesystem::path& mods_dir, const std::optional<std::vector<std::string>>& selection,
    std::span<const std::pair<std::string, std::string>> options);

// The text of a mod's `init.lua`, or the Load error that disables the mod.
std::expected<std::string, vm::ScriptError> read_entry(const std::string& mod_id,
                                                       const std::filesystem::path& dir);
// Logs a mod that failed to load ("mod failed to load and is disabled; ...").
void log_load_failure(const std::string& mod_id, const vm::ScriptError& error);

template <HostedVm V>
std::expected<ModHost<V>, HostError> ModHost<V>::load_selected_with_options(
    const std::filesystem::path& mods_dir, std::uint64_t memory_limit, std::uint32_t budget,
    const std::optional<std::vector<std::string>>& selection,
    std::span<const std::pair<std::string, std::string>> options) {
  auto prepared = prepare(mods_dir, selection, options);
  if (!prepared) return std::unexpected(prepared.error());
  auto created = V::create(memory_limit, budget);
  if (!created) return std::unexpected(HostError{HostErrorKind::Script, {}, {}, created.error()});
  ModHost host{std::move(prepared->resolved), {}, std::move(prepared->option_values),
               std::move(*created)};
  host.vm.set_world_options(host.option_values);

  for (const auto& mod : host.resolved.mods) {
    auto fail = [&](vm::ScriptError error) {
      log_load_failure(mod.id, error);
      host.vm.fault(mod.id);
      host.load_errors.push_back({mod.id, std::move(error)});
    };
    // An unreadable or non-UTF-8 entry disables this mod alone.
    auto text = read_entry(mod.id, mod.dir);
    if (!text) {
      fail(std::move(text.error()));
      continue;
    }
    if (mod.reference) {
      host.vm.add_reference_mod(mod.id);
    } else {
      host.vm.remove_reference_mod(mod.id);
    }
    host.vm.note_dependencies(mod.id, mod.dependencies);
    for (const auto& d : prepared->selected) {
      if (d.manifest.id == mod.id) {
        host.vm.declare_manifest_settings(mod.id, d.manifest.setting);
        break;
      }
    }
    if (auto r = host.vm.load_mod(mod.id, *text, mod.dir.string()); !r) fail(std::move(r.error()));
  }
  return host;
}

}  // namespace ostrel_core::script::host
