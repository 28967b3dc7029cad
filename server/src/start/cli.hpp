#pragma once
// The `server` program's command line. Every option is long-only, takes one value and may be
// given once; exactly one mode is chosen: serving (`--config`), the mod check (`--check-mods`)
// or mod creation (`--create-mod` with `--into`, `--name`, `--license`, `--copyright`).

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>

namespace ostrel_server::cli {

inline constexpr int kUsageExitCode = 2;

struct Parsed;

// The parsed command line; an option not given stays absent (defaults are filled in later).
struct Cli {
  std::optional<std::filesystem::path> config;      // the configuration file
  std::optional<std::filesystem::path> check_mods;  // a mods directory to check
  std::optional<std::string> create_mod;            // the id of a mod to create
  std::optional<std::filesystem::path> into;        // where the new mod's directory goes
  std::optional<std::string> name;                  // the new mod's display name
  std::optional<std::string> license;               // SPDX identifier for the new mod
  std::optional<std::string> copyright;             // the new mod's copyright holder

  // Parses `args` (without the program name). Help and version go to `out`, usage errors with
  // the usage line to `err`; in those cases no Cli is returned, only the exit code (0 for help
  // and version, kUsageExitCode for a usage error).
  static Parsed parse(std::span<const std::string> args, std::ostream& out, std::ostream& err);
  // The same for the process's arguments, writing to standard output and standard error.
  static Parsed parse(int argc, const char* const* argv);

  bool operator==(const Cli&) const = default;
};

struct Parsed {
  std::optional<Cli> cli;  // absent: the parser already answered; exit with exit_code
  int exit_code = 0;
};

}  // namespace ostrel_server::cli
