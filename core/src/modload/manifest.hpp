#pragma once
// A mod's `mod.toml`: the records it becomes, its checks, and the scan of a mods directory.
//
//   id = "tour"                          # required; the namespace of what the mod registers
//   name = "Tour"                        # required
//   version = "0.1.0"                    # required; a semantic version, kept as text
//   depends = ["some_world >=0.2, <1"]   # id, then optionally blanks and a version requirement
//   optional_depends = []  provides = []  conflicts = []  reference = false
//   description = ""  license = ""
//   [[world_option]]  id, name, description, options, default   (also [[setting]])
//   [theme]           font, text_font, sheet, button, and [theme.colours] text, heading,
//                     background, button, accent ("#rrggbb" or "#rrggbbaa")
// Unknown keys and values of the wrong type are refused at every level.

#include <array>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/error.hpp"
#include "modload/semver.hpp"

namespace ostrel_core::modload::manifest {

class ManifestError;

// The value a world option has in one world.
struct Toggle {
  bool on = false;
  friend bool operator==(const Toggle&, const Toggle&) = default;
};
struct Choice {
  std::string text;  // one of the option's texts, never an index
  friend bool operator==(const Choice&, const Choice&) = default;
};
using WorldOptionValue = std::variant<Toggle, Choice>;

// A choice made once when a world is created. A toggle when `options` is empty.
struct WorldOption {
  std::string id;
  std::string name;
  std::string description;
  std::vector<std::string> options;
  // Toggle: 0 off, 1 on. Choice: the one-based index of the default option.
  std::uint32_t default_value = 1;

  // The value for the text configured in this world (none: nothing configured). Texts are
  // compared byte for byte; anything that is not an exact option falls back to the default.
  WorldOptionValue resolve(std::optional<std::string_view> configured) const;
  friend bool operator==(const WorldOption&, const WorldOption&) = default;
};

// A player setting declared in the manifest; same fields and rules as WorldOption.
struct ManifestSetting {
  std::string id;
  std::string name;
  std::string description;
  std::vector<std::string> options;
  std::uint32_t default_value = 1;  // as in WorldOption
  friend bool operator==(const ManifestSetting&, const ManifestSetting&) = default;
};

// Colours as written; parse_colour turns one into bytes. Absent ones stay the client's own.
struct ThemeColours {
  std::optional<std::string> text;
  std::optional<std::string> heading;
  std::optional<std::string> background;
  std::optional<std::string> button;
  std::optional<std::string> accent;
  friend bool operator==(const ThemeColours&, const ThemeColours&) = default;
};

// Paths are relative to the mod directory.
struct Theme {
  std::optional<std::string> font;       // headings and buttons
  std::optional<std::string> text_font;  // prose, chat and text fields
  std::optional<std::string> sheet;      // nine-slice frame around sheets
  std::optional<std::string> button;     // nine-slice frame around buttons
  ThemeColours colours;

  // Every path names a file kind clients are sent and stays inside the mod directory (a check
  // of the text only), and every colour parses. The first failure is BadTheme.
  std::expected<void, ManifestError> validate(std::string_view mod_id) const;
  friend bool operator==(const Theme&, const Theme&) = default;
};

struct ModManifest {
  std::string id;
  std::string name;
  std::string version;  // a semantic version once validated
  std::vector<std::string> depends;           // requirement texts as written
  std::vector<std::string> optional_depends;  // requirement texts as written
  std::vector<std::string> provides;
  std::vector<std::string> conflicts;
  bool reference = false;
  std::string description;
  std::string license;
  std::vector<WorldOption> world_option;
  std::vector<ManifestSetting> setting;
  std::optional<Theme> theme;

  // Reads `mod_dir`/mod.toml and validates it. Blocks on file I/O.
  [[nodiscard]] static std::expected<ModManifest, ManifestError> load(
      const std::filesystem::path& mod_dir);
  // The first failing check, in a fixed order (ids, version, requirements, provides,
  // conflicts, world options, settings, theme, init.lua).
  std::expected<void, ManifestError> validate(const std::filesystem::path& mod_dir) const;
  friend bool operator==(const ModManifest&, const ModManifest&) = default;
};

struct DiscoveredMod {
  ModManifest manifest;
  std::filesystem::path dir;  // the mods directory joined with the entry's name
};

// A dependency entry split into the mod id and its version requirement ("*" when none).
struct Requirement {
  std::string id;
  semver::VersionReq req;
};

// Lowercase ASCII letters, digits and "_", starting with a letter; not empty.
bool is_valid_id(std::string_view id);
// "some_world >=0.2, <1" -> {some_world, >=0.2, <1}; none when the id or requirement is bad.
std::optional<Requirement> parse_requirement(std::string_view text);
// "#a0b0c0" -> {160, 176, 192, 255}; "#a0b0c080" -> alpha 128. Red, green, blue, alpha.
std::optional<std::array<std::uint8_t, 4>> parse_colour(std::string_view text);

// Loads every mod under `mods_dir`, sorted by id (equal ids keep directory-name order).
// Entries are visited in byte order of their names, so the same directory reports the same
// first problem on every run. Entries that are not directories, or lack a regular mod.toml
// inside them, are skipped; the first failing manifest fails the whole scan.
[[nodiscard]] std::expected<std::vector<DiscoveredMod>, ManifestError> scan_directory(
    const std::filesystem::path& mods_dir);

enum class ManifestErrorKind : std::uint8_t {
  ConflictsWithItself,  // `conflicts` names the mod's own id
  Read,                 // mod.toml missing, unreadable, a directory, or not UTF-8
  Parse,                // TOML syntax, a missing or unknown key, a value of the wrong type
  BadId,                // the mod's id, or an entry of provides/conflicts, breaks the id rule
  BadTheme,             // a theme path or colour refused; `reason` says which
  BadWorldOption,       // a [[world_option]] entry refused; `reason` says why
  BadSetting,           // a [[setting]] entry refused; `reason` says why
  BadVersion,           // `version` is not a semantic version
  BadRequirement,       // a depends/optional_depends entry does not parse
  MissingEntry,         // no init.lua regular file in the mod directory
  Scan,                 // the mods directory could not be listed
};

class ManifestError {
 public:
  ManifestErrorKind kind;
  std::string id;               // the mod's id; in BadId the offending id
  std::filesystem::path path;   // manifest file (Read, Parse), mod dir (BadId, MissingEntry),
                                // mods dir (Scan)
  std::string version;          // BadVersion
  std::string requirement;      // BadRequirement, as written
  std::string option;           // BadWorldOption, BadSetting: the entry's id as written
  std::string reason;           // BadTheme, BadWorldOption, BadSetting
  SourcePtr cause;              // Read, Scan: the I/O error; Parse: the reader's error

  static ManifestError conflicts_with_itself(std::string id);
  static ManifestError read(std::filesystem::path manifest, IoError io);
  static ManifestError parse(std::filesystem::path manifest, std::string reader_error);
  static ManifestError bad_id(std::filesystem::path mod_dir, std::string id);
  static ManifestError bad_theme(std::string id, std::string reason);
  static ManifestError bad_world_option(std::string id, std::string option, std::string reason);
  static ManifestError bad_setting(std::string id, std::string setting, std::string reason);
  static ManifestError bad_version(std::string id, std::string version);
  static ManifestError bad_requirement(std::string id, std::string requirement);
  static ManifestError missing_entry(std::string id, std::filesystem::path mod_dir);
  static ManifestError scan(std::filesystem::path mods_dir, IoError io);

  std::string message() const;
  const ErrorSource* source() const { return cause.get(); }
};

}  // namespace ostrel_core::modload::manifest
