#include "modload/manifest.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <span>

#include "modload/files.hpp"
#include "modload/manifest_toml.hpp"
#include "proto/codec.hpp"

namespace ostrel_core::modload::manifest {

namespace fs = std::filesystem;


std::expected<ModManifest, ManifestError> ModManifest::load(const fs::path& mod_dir) {
  const fs::path manifest_path = mod_dir / "mod.toml";
  // A link may name a file inside the mod only; anything else is never read.
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(manifest_path, ec)) &&
      !files::is_regular_file_within(mod_dir, "mod.toml")) {
    return std::unexpected(ManifestError::read(
        manifest_path, IoError("symbolic link leads out of the mod's directory")));
  }
  auto bytes = files::read_mod_file(manifest_path);
  if (!bytes) return std::unexpected(ManifestError::read(manifest_path, std::move(bytes.error())));
  if (!proto::is_valid_utf8(*bytes)) {
    return std::unexpected(
        ManifestError::read(manifest_path, IoError("stream did not contain valid UTF-8")));
  }
  const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  auto manifest = read_manifest_toml(text, manifest_path.string());
  if (!manifest) {
    return std::unexpected(ManifestError::parse(manifest_path, std::move(manifest.error())));
  }
  if (auto ok = manifest->validate(mod_dir); !ok) return std::unexpected(std::move(ok.error()));
  return std::move(*manifest);
}

WorldOptionValue WorldOption::resolve(std::optional<std::string_view> configured) const {
  if (options.empty()) {
    if (configured == "true") return Toggle{true};
    if (configured == "false") return Toggle{false};
    return Toggle{default_value != 0};
  }
  if (configured) {
    for (const auto& o : options)
      if (o == *configured) return Choice{o};
  }
  std::size_t index = default_value == 0 ? 0 : default_value - 1;
  if (index >= options.size()) index = 0;
  return Choice{options[index]};
}

std::expected<std::vector<DiscoveredMod>, ManifestError> scan_directory(const fs::path& mods_dir) {
  std::error_code ec;
  fs::directory_iterator it(mods_dir, ec);
  if (ec) return std::unexpected(ManifestError::scan(mods_dir, IoError::from_code(ec)));
  std::vector<fs::path> names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    names.push_back(it->path().filename());
  }
  if (ec) return std::unexpected(ManifestError::scan(mods_dir, IoError::from_code(ec)));
  // Byte order of the names: the same directory reports the same first problem on every run.
  std::sort(names.begin(), names.end(),
            [](const fs::path& a, const fs::path& b) { return a.native() < b.native(); });

  std::vector<DiscoveredMod> found;
  for (const auto& name : names) {
    fs::path dir = mods_dir / name;
    if (!fs::is_directory(dir, ec)) continue;
    if (!files::is_regular_file_within(dir, "mod.toml")) continue;
    auto manifest = ModManifest::load(dir);
    if (!manifest) return std::unexpected(std::move(manifest.error()));
    found.push_back(DiscoveredMod{std::move(*manifest), std::move(dir)});
  }
  std::stable_sort(found.begin(), found.end(), [](const DiscoveredMod& a, const DiscoveredMod& b) {
    return a.manifest.id < b.manifest.id;
  });
  return found;
}

ManifestError ManifestError::conflicts_with_itself(std::string id) {
  return {.kind = ManifestErrorKind::ConflictsWithItself, .id = std::move(id)};
}

ManifestError ManifestError::read(fs::path manifest, IoError io) {
  return {.kind = ManifestErrorKind::Read, .path = std::move(manifest), .cause = make_source(std::move(io))};
}

ManifestError ManifestError::parse(fs::path manifest, std::string reader_error) {
  return {.kind = ManifestErrorKind::Parse,
          .path = std::move(manifest),
          .cause = make_source(TextError(std::move(reader_error)))};
}

ManifestError ManifestError::bad_id(fs::path mod_dir, std::string id) {
  return {.kind = ManifestErrorKind::BadId, .id = std::move(id), .path = std::move(mod_dir)};
}

ManifestError ManifestError::bad_theme(std::string id, std::string reason) {
  return {.kind = ManifestErrorKind::BadTheme, .id = std::move(id), .reason = std::move(reason)};
}

ManifestError ManifestError::bad_world_option(std::string id, std::string option,
                                              std::string reason) {
  return {.kind = ManifestErrorKind::BadWorldOption,
          .id = std::move(id),
          .option = std::move(option),
          .reason = std::move(reason)};
}

ManifestError ManifestError::bad_setting(std::string id, std::string setting, std::string reason) {
  return {.kind = ManifestErrorKind::BadSetting,
          .id = std::move(id),
          .option = std::move(setting),
          .reason = std::move(reason)};
}

ManifestError ManifestError::bad_version(std::string id, std::string version) {
  return {.kind = ManifestErrorKind::BadVersion, .id = std::move(id), .version = std::move(version)};
}

ManifestError ManifestError::bad_requirement(std::string id, std::string requirement) {
  return {.kind = ManifestErrorKind::BadRequirement,
          .id = std::move(id),
          .requirement = std::move(requirement)};
}

ManifestError ManifestError::missing_entry(std::string id, fs::path mod_dir) {
  return {.kind = ManifestErrorKind::MissingEntry, .id = std::move(id), .path = std::move(mod_dir)};
}

ManifestError ManifestError::scan(fs::path mods_dir, IoError io) {
  return {.kind = ManifestErrorKind::Scan, .path = std::move(mods_dir), .cause = make_source(std::move(io))};
}

std::string ManifestError::message() const {
  switch (kind) {
    case ManifestErrorKind::ConflictsWithItself:
      return fmt::format("mod `{}` lists itself in `conflicts`", id);
    case ManifestErrorKind::Read:
      return fmt::format("could not read `{}`", path.string());
    case ManifestErrorKind::Parse:
      return fmt::format("could not parse `{}`", path.string());
    case ManifestErrorKind::BadId:
      return fmt::format(
          "mod at `{}` has id `{}`: ids must be lowercase, start with a letter, and contain only "
          "letters, digits and underscores",
          path.string(), id);
    case ManifestErrorKind::BadTheme:
      return fmt::format("mod `{}` declares its theme wrongly: {}", id, reason);
    case ManifestErrorKind::BadWorldOption:
      return fmt::format("mod `{}` declares world option `{}` wrongly: {}", id, option, reason);
    case ManifestErrorKind::BadSetting:
      return fmt::format("mod `{}` declares setting `{}` wrongly: {}", id, option, reason);
    case ManifestErrorKind::BadVersion:
      return fmt::format("mod `{}` has version `{}`, which is not valid semver", id, version);
    case ManifestErrorKind::BadRequirement:
      return fmt::format("mod `{}` declares dependency `{}`, which is not a valid requirement", id,
                         requirement);
    case ManifestErrorKind::MissingEntry:
      return fmt::format("mod `{}` at `{}` has no {}", id, path.string(), "init.lua");
    case ManifestErrorKind::Scan:
      return fmt::format("could not scan mod directory `{}`", path.string());
  }
  return "unknown manifest error";
}

}  // namespace ostrel_core::modload::manifest
