#pragma once
// The mod scaffold: writes a new mod from the templates the program carries, filling in its id,
// name, licence and rights holder, never overwriting anything, then checks it alone.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "mods/checkmods.hpp"
#include "base/error.hpp"

namespace ostrel_server::scaffold {

// One template: where it goes in the new mod, its bytes, and whether its placeholders are
// filled in (text files) or it is written byte for byte.
struct Template {
  std::string_view path;  // relative to the new mod's directory, '/'-separated
  std::string_view bytes;
  bool substituted;
};

// The eight templates in the order they are written: mod.toml, init.lua, README.md,
// .luarc.json, textures/block.png, sounds/ping.wav, stubs/game.lua, AGENTS.md.
std::span<const Template> templates();

// The display name made from a mod id: pieces between '_' with their first letter upper-cased,
// joined by one blank ("my_first_mod" gives "My First Mod", "a__b" gives "A B").
std::string title_of(std::string_view id);

struct NewMod {
  std::string id;
  std::string name;       // display name
  std::string license;    // SPDX licence identifier
  std::string copyright;  // the rights holder named in the file headers

  // Fills in what is absent: the name from title_of(id), the licence "MIT", the rights holder
  // "{name} authors". Checks nothing.
  static NewMod with_defaults(std::string id, std::optional<std::string> name = std::nullopt,
                              std::optional<std::string> license = std::nullopt,
                              std::optional<std::string> copyright = std::nullopt);
};

enum class ScaffoldErrorKind : std::uint8_t {
  BadId,     // not a mod id
  BadField,  // name, licence or rights holder empty, multi-line or holding a double quote
  Exists,    // the new mod's directory is already there
  Write,     // a directory or file could not be written
};

class ScaffoldError {
 public:
  ScaffoldErrorKind kind;
  std::string id;               // BadId
  std::string field;            // BadField: "name", "licence" or "copyright holder"
  std::filesystem::path path;   // Exists, Write
  ostrel_core::SourcePtr cause;  // Write: the operating system's error

  std::string message() const;
  const ostrel_core::ErrorSource* source() const { return cause.get(); }
};

// A substituted template's text: invalid UTF-8 replaced by U+FFFD, "\r\n" turned into "\n",
// then "{{MOD_ID}}", "{{MOD_NAME}}", "{{LICENSE}}" and the two SPDX header lines replaced, each
// over the result of the one before.
std::string substitute(std::string_view bytes, const NewMod& mod);

// Writes the new mod into `into`/id and returns that directory. Parameters are checked and the
// mod's directory made (one mkdir that fails when anything is there) before any file is written;
// `into` itself is made with its missing ancestors. A write failure leaves what was written.
[[nodiscard]] std::expected<std::filesystem::path, ScaffoldError> create(const NewMod& mod,
                                                                         const std::filesystem::path& into);

// Checks the mod in `mod_dir` alone: copied into a fresh temporary mods directory (removed
// afterwards), then checked as the mod check does.
[[nodiscard]] std::expected<checkmods::CheckReport, std::string> check_alone(
    const std::filesystem::path& mod_dir);

// Copies the tree under `src` into `dst` (made with its missing ancestors). Directories are
// walked without following links; anything else is copied as a file, following a link to its
// target's contents. Stops at the first failure.
[[nodiscard]] std::expected<void, ostrel_core::IoError> copy_tree(const std::filesystem::path& src,
                                                                  const std::filesystem::path& dst);

}  // namespace ostrel_server::scaffold
