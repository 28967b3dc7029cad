#include "start/cli.hpp"

#include <iostream>
#include <vector>

#include <CLI/CLI.hpp>

#include "start/config.hpp"
#include "base/version.hpp"

namespace ostrel_server::cli {
namespace {

constexpr const char* kProgram = "server";
constexpr const char* kDescription = "Headless Ostrel voxel engine server";

// One option's definition: its one-line help and, for some, a longer text shown by `--help`.
struct OptionText {
  const char* flag;
  const char* value_name;
  const char* help;
  const char* long_help;  // null: the one-line help
};

constexpr OptionText kConfig{"--config", "path", "Path to the server configuration file (TOML)",
                             "Path to the server configuration file (TOML).\n\n"
                             "Required unless `--check-mods` or `--create-mod` is given."};
constexpr OptionText kCheckMods{
    "--check-mods", "dir", "Validate a mod directory and exit, without touching a world",
    "Validate a mod directory and exit, without touching a world.\n\n"
    "Loads, resolves, and runs the registration window in a dry-run sandbox. Exits 0 if every mod is usable "
    "and 1 otherwise, so CI can gate on it."};
constexpr OptionText kCreateMod{
    "--create-mod", "id", "Start a new mod from the template and exit",
    "Start a new mod from the template and exit.\n\n"
    "Writes `<dir>/<id>/`: the manifest, an init.lua touring the API, a texture, a sound, the editor config, "
    "and the API stubs and AGENTS.md vendored from `api/`. Then checks it the way `--check-mods` would, and "
    "exits 0 only if that check passes."};
constexpr OptionText kInto{"--into", "dir", "Where `--create-mod` puts the new directory. Default: here", nullptr};
constexpr OptionText kName{"--name", "name", "The new mod's display name. Default: made from the id", nullptr};
constexpr OptionText kLicense{"--license", "spdx",
                              "The SPDX licence identifier the new mod's files carry. Default: MIT", nullptr};
constexpr OptionText kCopyright{"--copyright", "holder",
                                "The copyright holder the new mod's headers name. Default: \"<name> authors\"",
                                nullptr};
constexpr const OptionText* kOptions[] = {&kConfig, &kCheckMods, &kCreateMod, &kInto,
                                          &kName,   &kLicense,   &kCopyright};

std::string usage_line() {
  std::string out = fmt::format("Usage: {}", kProgram);
  for (const auto* o : kOptions) out += fmt::format(" [{} <{}>]", o->flag, o->value_name);
  return out + "\n";
}

class Formatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App*, std::string) const override { return usage_line(); }
};

std::string failure_message(const CLI::App*, const CLI::Error& e) {
  return fmt::format("error: {}\n\n{}\nRun with --help for more information.\n", e.what(), usage_line());
}

// The values of the options, bound to the parser.
struct Values {
  std::string config, check_mods, create_mod, into, name, license, copyright;
};

CLI::Option* add(CLI::App& app, const OptionText& text, std::string& value, bool is_text) {
  auto* opt = app.add_option(text.flag, value, text.long_help ? text.long_help : text.help);
  opt->type_name(fmt::format("<{}>", text.value_name));
  if (is_text) {
    opt->check(CLI::Validator(
        [](std::string& v) { return config::is_utf8(v) ? std::string() : std::string("the value is not valid text"); },
        ""));
  }
  return opt;
}

// The help is long when asked for with `--help`, one line per option with `-h`.
bool wants_long_help(std::span<const std::string> args) {
  for (const auto& a : args) {
    if (a == "--help") return true;
  }
  return false;
}

std::optional<std::filesystem::path> path_if(const CLI::Option* opt, const std::string& v) {
  if (opt->count() == 0) return std::nullopt;
  return std::filesystem::path(v);
}

std::optional<std::string> text_if(const CLI::Option* opt, const std::string& v) {
  if (opt->count() == 0) return std::nullopt;
  return v;
}

}  // namespace

Parsed Cli::parse(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  CLI::App app(kDescription, kProgram);
  app.formatter(std::make_shared<Formatter>());
  app.failure_message(failure_message);
  app.set_help_flag("-h,--help", "Print help (see more with '--help')");
  app.set_version_flag("-V,--version", fmt::format("{} {}", kProgram, ostrel_core::kEngineVersion),
                       "Print version");

  Values v;
  auto* config = add(app, kConfig, v.config, false);
  auto* check_mods = add(app, kCheckMods, v.check_mods, false);
  auto* create_mod = add(app, kCreateMod, v.create_mod, true);
  auto* into = add(app, kInto, v.into, false);
  auto* name = add(app, kName, v.name, true);
  auto* license = add(app, kLicense, v.license, true);
  auto* copyright = add(app, kCopyright, v.copyright, true);
  config->excludes(check_mods);
  create_mod->excludes(config);
  create_mod->excludes(check_mods);
  for (auto* companion : {into, name, license, copyright}) companion->needs(create_mod);

  // CLI11 wants the arguments last to first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
    if (config->count() == 0 && check_mods->count() == 0 && create_mod->count() == 0) {
      throw CLI::RequiredError("--config is required unless --check-mods or --create-mod is given",
                               CLI::ExitCodes::RequiredError);
    }
  } catch (const CLI::CallForHelp&) {
    if (!wants_long_help(args)) {
      for (const auto* o : kOptions) app.get_option(o->flag)->description(o->help);
    }
    out << app.help();
    return {std::nullopt, 0};
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e, out, err);
    return {std::nullopt, code == 0 ? 0 : kUsageExitCode};
  }

  Cli cli;
  cli.config = path_if(config, v.config);
  cli.check_mods = path_if(check_mods, v.check_mods);
  cli.create_mod = text_if(create_mod, v.create_mod);
  cli.into = path_if(into, v.into);
  cli.name = text_if(name, v.name);
  cli.license = text_if(license, v.license);
  cli.copyright = text_if(copyright, v.copyright);
  return {std::move(cli), 0};
}

Parsed Cli::parse(int argc, const char* const* argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return parse(args, std::cout, std::cerr);
}

}  // namespace ostrel_server::cli
