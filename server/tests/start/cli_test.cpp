#include "start/cli.hpp"

#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ostrel_server::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct Outcome {
  Parsed parsed;
  std::string out, err;
};

Outcome parse(std::vector<std::string> args) {
  std::ostringstream out, err;
  auto parsed = Cli::parse(args, out, err);
  return {std::move(parsed), out.str(), err.str()};
}

TEST(Cli, AcceptedCommandLines) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    Cli want;
  };
  const Case cases[] = {
      {"serve", {"--config", "server.toml"}, Cli{.config = "server.toml"}},
      {"serve_equals_form", {"--config=a b.toml"}, Cli{.config = "a b.toml"}},
      {"check", {"--check-mods", "mods"}, Cli{.check_mods = "mods"}},
      {"create_alone", {"--create-mod", "lanterns"}, Cli{.create_mod = "lanterns"}},
      {"create_with_companions",
       {"--create-mod", "lanterns", "--into", "out", "--name", "Lanterns", "--license", "Apache-2.0", "--copyright",
        "Ann"},
       Cli{.create_mod = "lanterns", .into = "out", .name = "Lanterns", .license = "Apache-2.0", .copyright = "Ann"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = parse(c.args);
    ASSERT_TRUE(got.parsed.cli.has_value()) << got.err;
    EXPECT_EQ(*got.parsed.cli, c.want);
    EXPECT_EQ(got.err, "");
  }
}

TEST(Cli, UsageErrorsExitWithTwo) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* err_has;
  };
  const Case cases[] = {
      {"nothing", {}, "--config"},
      {"check_and_config", {"--check-mods", "d", "--config", "c"}, "--check-mods"},
      {"create_and_check", {"--create-mod", "m", "--check-mods", "d"}, "--create-mod"},
      {"create_and_config", {"--config", "c", "--create-mod", "m"}, "--create-mod"},
      {"companion_without_create", {"--name", "Lanterns"}, "--create-mod"},
      {"into_with_config", {"--config", "c", "--into", "d"}, "--create-mod"},
      {"config_twice", {"--config", "a", "--config", "b"}, "--config"},
      {"name_twice", {"--create-mod", "m", "--name", "a", "--name", "b"}, "--name"},
      {"missing_value", {"--config"}, "--config"},
      {"unknown_option", {"--config", "c", "--port", "1"}, "--port"},
      {"positional", {"--config", "c", "extra"}, "extra"},
      {"short_form_of_option", {"-c", "c"}, "-c"},
      {"text_not_utf8", {"--create-mod", "m\xff"}, "--create-mod"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = parse(c.args);
    EXPECT_FALSE(got.parsed.cli.has_value());
    EXPECT_EQ(got.parsed.exit_code, 2);
    EXPECT_THAT(got.err, HasSubstr(c.err_has));
    EXPECT_THAT(got.err, HasSubstr("Usage: server [--config <path>] [--check-mods <dir>] [--create-mod <id>]"));
    EXPECT_EQ(got.out, "");
  }
}

TEST(Cli, PathsNeedNotBeText) {
  auto got = parse({"--config", "conf\xff.toml"});
  ASSERT_TRUE(got.parsed.cli.has_value()) << got.err;
  EXPECT_EQ(got.parsed.cli->config->string(), "conf\xff.toml");
}

TEST(Cli, Version) {
  for (const char* flag : {"--version", "-V"}) {
    SCOPED_TRACE(flag);
    auto got = parse({flag});
    EXPECT_FALSE(got.parsed.cli.has_value());
    EXPECT_EQ(got.parsed.exit_code, 0);
    EXPECT_EQ(got.out, "server 0.4.2\n");
  }
}

constexpr const char* kLongTexts[] = {
    "Path to the server configuration file (TOML).\n",
    "Required unless `--check-mods` or `--create-mod` is given.",
    "Validate a mod directory and exit, without touching a world.\n",
    "Loads, resolves, and runs the registration window in a dry-run sandbox. Exits 0 if every mod is usable and 1 "
    "otherwise, so CI can gate on it.",
    "Start a new mod from the template and exit.\n",
    "Writes `<dir>/<id>/`: the manifest, an init.lua touring the API, a texture, a sound, the editor config, and the "
    "API stubs and AGENTS.md vendored from `api/`. Then checks it the way `--check-mods` would, and exits 0 only if "
    "that check passes."};
constexpr const char* kCommonTexts[] = {
    "Headless Ostrel voxel engine server",
    "--into <dir>",
    "Where `--create-mod` puts the new directory. Default: here",
    "--name <name>",
    "The new mod's display name. Default: made from the id",
    "--license <spdx>",
    "The SPDX licence identifier the new mod's files carry. Default: MIT",
    "--copyright <holder>",
    "The copyright holder the new mod's headers name. Default: \"<name> authors\""};

TEST(Cli, LongHelpShowsTheLongTexts) {
  auto got = parse({"--help"});
  EXPECT_FALSE(got.parsed.cli.has_value());
  EXPECT_EQ(got.parsed.exit_code, 0);
  for (const char* text : kLongTexts) EXPECT_THAT(got.out, HasSubstr(text));
  for (const char* text : kCommonTexts) EXPECT_THAT(got.out, HasSubstr(text));
}

TEST(Cli, ShortHelpShowsOneLineTexts) {
  auto got = parse({"-h"});
  EXPECT_EQ(got.parsed.exit_code, 0);
  EXPECT_THAT(got.out, HasSubstr("Path to the server configuration file (TOML)\n"));
  EXPECT_THAT(got.out, HasSubstr("Validate a mod directory and exit, without touching a world\n"));
  EXPECT_THAT(got.out, HasSubstr("Start a new mod from the template and exit\n"));
  EXPECT_THAT(got.out, Not(HasSubstr("Required unless")));
  for (const char* text : kCommonTexts) EXPECT_THAT(got.out, HasSubstr(text));
}

}  // namespace
}  // namespace ostrel_server::cli
