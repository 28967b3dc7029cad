#include "script/host.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "base/log.hpp"
#include "modload/files.hpp"
#include "proto/codec.hpp"

namespace ostrel_core::script::host {

namespace {

constexpr std::string_view kTarget = "ostrel_core::script::host";

}  // namespace

std::string HostError::message() const {
  switch (kind) {
    case HostErrorKind::Scan:
      return fmt::format("could not read mods from `{}`", root);
    case HostErrorKind::Resolve:
      return "could not resolve mod dependencies";
    case HostErrorKind::Script:
      return script ? script->message() : std::string();
  }
  return {};
}

std::expected<Prepared, HostError> prepare(
    const std::filesystem::path& mods_dir, const std::optional<std::vector<std::string>>& selection,
    std::span<const std::pair<std::string, std::string>> options) {
  auto scanned = modload::manifest::scan_directory(mods_dir);
  if (!scanned) {
    return std::unexpected(
        HostError{HostErrorKind::Scan, mods_dir.string(), make_source(scanned.error()), {}});
  }
  Prepared out;
  for (auto& mod : *scanned) {
    if (selection && std::find(selection->begin(), selection->end(), mod.manifest.id) ==
                         selection->end()) {
      continue;
    }
    out.selected.push_back(std::move(mod));
  }
  auto resolved = modload::resolve::resolve(out.selected);
  if (!resolved) {
    return std::unexpected(HostError{HostErrorKind::Resolve, {}, make_source(resolved.error()), {}});
  }
  out.resolved = std::move(*resolved);
  for (const auto& aside : out.resolved.aside) {
    OSTREL_INFO(kTarget, "a reference mod stood aside for the mod that replaces it",
                log::text("reference", aside.reference), log::text("replaced_by", aside.replaced_by));
  }

  for (const auto& mod : out.resolved.mods) {
    const auto it = std::find_if(out.selected.begin(), out.selected.end(),
                                 [&](const auto& d) { return d.manifest.id == mod.id; });
    if (it == out.selected.end()) continue;
    for (const auto& option : it->manifest.world_option) {
      std::string key = fmt::format("{}:{}", mod.id, option.id);
      std::optional<std::string_view> given;
      for (const auto& [k, text] : options) {
        if (k == key) {
          given = text;
          break;
        }
      }
      out.option_values.emplace_back(std::move(key), option.resolve(given));
    }
  }
  return out;
}

std::expected<std::string, vm::ScriptError> read_entry(const std::string& mod_id,
                                                       const std::filesystem::path& dir) {
  const auto path = dir / "init.lua";
  auto bytes = modload::files::read_mod_file(path);
  if (!bytes) {
    return std::unexpected(vm::ScriptError::load(
        mod_id, fmt::format("could not read `{}`: {}", path.string(), bytes.error().message())));
  }
  if (!proto::is_valid_utf8(*bytes)) {
    return std::unexpected(vm::ScriptError::load(
        mod_id,
        fmt::format("could not read `{}`: stream did not contain valid UTF-8", path.string())));
  }
  return std::string(bytes->begin(), bytes->end());
}

void log_load_failure(const std::string& mod_id, const vm::ScriptError& error) {
  OSTREL_ERROR(kTarget, "mod failed to load and is disabled; the rest of the set continues",
               log::text("mod_id", mod_id), log::text("error", error.with_detail()));
}

}  // namespace ostrel_core::script::host
