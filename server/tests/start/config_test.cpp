#include "start/config.hpp"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ostrel_server::config {
namespace {

using ::testing::HasSubstr;

constexpr const char* kPath = "conf/server.toml";

Config must_parse(std::string_view text) {
  auto got = Config::parse(text, kPath);
  EXPECT_TRUE(got.has_value()) << (got ? "" : ostrel_core::report(got.error()));
  return got.value_or(Config{});
}

ConfigError must_fail(std::string_view text) {
  auto got = Config::parse(text, kPath);
  EXPECT_FALSE(got.has_value()) << "accepted:\n" << text;
  if (got) return ConfigError::invalid(kPath, "(accepted)");
  return got.error();
}

std::string source_text(const ConfigError& e) { return e.source() ? e.source()->message() : std::string(); }

TEST(ConfigLoad, EmptyFileGivesEveryDefault) {
  auto c = must_parse("");
  EXPECT_EQ(c.bind_addr.to_string(), "0.0.0.0:47811");
  EXPECT_EQ(c.world_path, std::filesystem::path("world"));
  EXPECT_EQ(c.max_players, 16u);
  EXPECT_EQ(c.seed, std::nullopt);
  EXPECT_TRUE(c.world_options.empty());
  EXPECT_TRUE(c.operators.empty());
  EXPECT_EQ(c.mods_path, std::nullopt);
  EXPECT_EQ(c.enabled_mods, std::nullopt);
  EXPECT_EQ(c.view_distance, 8);
  EXPECT_EQ(c.vertical_view_distance, 12);
  EXPECT_EQ(c.rcon, std::nullopt);
}

TEST(ConfigLoad, ReadsEveryKey) {
  auto c = must_parse(R"(
bind_addr = "[::]:4433"
world_path = "/srv/worlds/main"
max_players = 4294967295
seed = 9223372036854775807
operators = ["aa", "bb"]
mods_path = "mods"
enabled_mods = []
view_distance = 255
vertical_view_distance = 0

[world_options]
"z:last" = "on"
"a:first" = "flat"

[rcon]
token = "0123456789abcdef"
)");
  EXPECT_EQ(c.bind_addr.to_string(), "[::]:4433");
  EXPECT_EQ(c.world_path, std::filesystem::path("/srv/worlds/main"));
  EXPECT_EQ(c.max_players, 4294967295u);
  EXPECT_EQ(c.seed, 9223372036854775807u);
  EXPECT_EQ(c.operators, (std::vector<std::string>{"aa", "bb"}));
  EXPECT_EQ(c.mods_path, std::filesystem::path("mods"));
  EXPECT_EQ(c.enabled_mods, std::vector<std::string>{});  // present and empty: selects no mod
  EXPECT_EQ(c.view_distance, 255);
  EXPECT_EQ(c.vertical_view_distance, 0);
  ASSERT_EQ(c.world_options.size(), 2u);
  EXPECT_EQ(c.world_options.begin()->first, "a:first");  // ascending ids
  EXPECT_EQ(c.world_options.at("z:last"), "on");
  ASSERT_TRUE(c.rcon.has_value());
  EXPECT_EQ(c.rcon->bind_addr.to_string(), "127.0.0.1:47812");  // the default when only the token is given
  EXPECT_EQ(c.rcon->token, "0123456789abcdef");
}

TEST(ConfigLoad, AcceptedConsoleTables) {
  struct Case {
    const char* name;
    const char* text;
    const char* bind;
  };
  const Case cases[] = {
      {"loopback_127_5_5_5", "[rcon]\nbind_addr = \"127.5.5.5:47812\"\ntoken = \"0123456789abcdef\"", "127.5.5.5:47812"},
      {"ipv6_loopback", "[rcon]\nbind_addr = \"[::1]:47812\"\ntoken = \"0123456789abcdef\"", "[::1]:47812"},
      {"token_16_bytes_with_blanks", "rcon = { token = \" 0123456789abc  \" }", "127.0.0.1:47812"},
      {"token_multibyte", "rcon = { token = \"ééééééééé\" }", "127.0.0.1:47812"},  // 18 bytes, 9 characters
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto config = must_parse(c.text);
    ASSERT_TRUE(config.rcon.has_value());
    EXPECT_EQ(config.rcon->bind_addr.to_string(), c.bind);
  }
}

TEST(ConfigLoad, BrokenRulesGiveExactTexts) {
  const std::string loopback_0 =
      "invalid config in `conf/server.toml`: rcon.bind_addr must be a loopback address, not 0.0.0.0:47812. "
      "This protocol has no" + std::string(26, ' ') + "transport encryption; tunnel over SSH for remote access.";
  const std::string loopback_mapped =
      "invalid config in `conf/server.toml`: rcon.bind_addr must be a loopback address, not "
      "[::ffff:127.0.0.1]:47812. This protocol has no" + std::string(26, ' ') +
      "transport encryption; tunnel over SSH for remote access.";
  const std::string short_token = "invalid config in `conf/server.toml`: rcon.token must be at least 16 characters; "
                                  "a short" + std::string(26, ' ') +
                                  "token on a port with `stop` and `rebind` on it is worth guessing";
  const std::string empty_token = "invalid config in `conf/server.toml`: rcon.token must not be empty";
  struct Case {
    const char* name;
    const char* text;
    std::string want;
  };
  const Case cases[] = {
      {"max_players_0", "max_players = 0",
       "invalid config in `conf/server.toml`: max_players must be at least 1"},
      {"max_players_first", "max_players = 0\n[rcon]\nbind_addr = \"0.0.0.0:47812\"\ntoken = \"x\"",
       "invalid config in `conf/server.toml`: max_players must be at least 1"},
      {"rcon_any_address", "[rcon]\nbind_addr = \"0.0.0.0:47812\"\ntoken = \"0123456789abcdef\"", loopback_0},
      {"rcon_ipv4_mapped", "[rcon]\nbind_addr = \"[::ffff:127.0.0.1]:47812\"\ntoken = \"0123456789abcdef\"",
       loopback_mapped},
      {"loopback_before_token", "[rcon]\nbind_addr = \"0.0.0.0:47812\"\ntoken = \"\"", loopback_0},
      {"token_empty", "rcon = { token = \"\" }", empty_token},
      {"token_16_spaces", "rcon = { token = \"                \" }", empty_token},
      {"token_unicode_spaces", "rcon = { token = \"\u3000\u3000\u3000\u3000\u3000\u3000\t\" }", empty_token},
      {"token_15_bytes", "rcon = { token = \"0123456789abcde\" }", short_token},
      {"token_15_with_blank", "rcon = { token = \" 0123456789abc \" }", short_token},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto e = must_fail(c.text);
    EXPECT_EQ(e.kind(), ConfigErrorKind::Invalid);
    EXPECT_EQ(e.message(), c.want);
    EXPECT_EQ(e.source(), nullptr);
  }
}

TEST(ConfigLoad, ReaderFaultsNameKeyAndPosition) {
  struct Case {
    const char* name;
    const char* text;
    std::vector<std::string> reason_has;  // substrings of the reader's message
  };
  const Case cases[] = {
      {"misspelt_key", "view_distance = 4\nmax_player = 3\n",
       {"line 2, column 1", "unknown field `max_player`",
        "expected one of `bind_addr`, `world_path`, `max_players`, `seed`, `world_options`, `operators`, "
        "`mods_path`, `enabled_mods`, `view_distance`, `vertical_view_distance`, `rcon`",
        "| max_player = 3"}},
      {"first_fault_in_file_order", "zzz = 1\naaa = 2\n", {"line 1, column 1", "`zzz`"}},
      {"unknown_rcon_key", "[rcon]\ntoken = \"0123456789abcdef\"\n  tokn = \"x\"",
       {"line 3, column 3", "unknown field `tokn` in `rcon`", "`bind_addr`, `token`"}},
      {"wrong_type", "max_players = \"16\"", {"line 1, column 15", "`max_players`", "a string"}},
      {"negative", "max_players = -1", {"`max_players`", "-1"}},
      {"too_large_u8", "view_distance = 256", {"`view_distance`", "0..=255", "256"}},
      {"float_for_integer", "vertical_view_distance = 12.0", {"`vertical_view_distance`", "a float"}},
      {"negative_seed", "seed = -5", {"`seed`", "0..=9223372036854775807"}},
      {"rcon_not_table", "rcon = 3", {"`rcon`", "struct RconConfig"}},
      {"rcon_missing_token", "[rcon]\nbind_addr = \"127.0.0.1:47812\"", {"missing field `token`"}},
      {"option_not_text", "[world_options]\nsize = 4", {"line 2", "`world_options.size`", "a string"}},
      {"operator_not_text", "operators = [\"aa\", 7]", {"`operators[1]`"}},
      {"enabled_mods_not_array", "enabled_mods = \"a\"", {"`enabled_mods`"}},
      {"duplicate_key", "max_players = 1\nmax_players = 2", {"line 2"}},
      {"syntax", "world_path = ", {"line 1"}},
      {"hostname", "bind_addr = \"localhost:47811\"", {"`bind_addr`", "localhost:47811"}},
      {"no_port", "bind_addr = \"127.0.0.1\"", {"`bind_addr`"}},
      {"port_too_large", "bind_addr = \"127.0.0.1:65536\"", {"`bind_addr`"}},
      {"ipv6_without_brackets", "bind_addr = \"::1:47811\"", {"`bind_addr`"}},
      {"rcon_bad_address", "rcon = { bind_addr = \"127.0.0.1:\", token = \"0123456789abcdef\" }",
       {"`rcon.bind_addr`"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto e = must_fail(c.text);
    EXPECT_EQ(e.kind(), ConfigErrorKind::Parse);
    EXPECT_EQ(e.message(), "could not parse config file `conf/server.toml`");
    ASSERT_NE(e.source(), nullptr);
    EXPECT_EQ(e.source()->source(), nullptr);
    for (const auto& part : c.reason_has) EXPECT_THAT(source_text(e), HasSubstr(part));
  }
}

TEST(ConfigLoad, WorldOptionsAsText) {
  auto c = must_parse("[world_options]\nsize = \"4\"");
  EXPECT_EQ(c.world_options.at("size"), "4");
}

class ConfigFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("ostrel_config_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path write(const char* name, std::string_view bytes) {
    auto path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  std::filesystem::path dir_;
};

TEST_F(ConfigFile, LoadsFromDisk) {
  auto path = write("ok.toml", "max_players = 3\nworld_path = \"w\"\n");
  auto c = Config::load(path);
  ASSERT_TRUE(c.has_value()) << ostrel_core::report(c.error());
  EXPECT_EQ(c->max_players, 3u);
  EXPECT_EQ(c->world_path, std::filesystem::path("w"));
}

TEST_F(ConfigFile, UnreadableFilesAreReadErrors) {
  struct Case {
    const char* name;
    std::filesystem::path path;
    std::string reason;
  };
  const Case cases[] = {
      {"missing", dir_ / "missing.toml", "No such file or directory (os error 2)"},
      {"directory", dir_, "Is a directory (os error 21)"},
      {"not_utf8", write("latin1.toml", "world_path = \"caf\xe9\"\n"), "stream did not contain valid UTF-8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = Config::load(c.path);
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().kind(), ConfigErrorKind::Read);
    EXPECT_EQ(ostrel_core::error_chain(got.error()),
              (std::vector<std::string>{"could not read config file `" + c.path.string() + "`", c.reason}));
  }
}

TEST(SocketAddr, ParsesAndDisplays) {
  struct Case {
    const char* text;
    const char* shown;  // null: refused
    bool loopback;
  };
  const Case cases[] = {
      {"0.0.0.0:47811", "0.0.0.0:47811", false},
      {"127.0.0.1:0", "127.0.0.1:0", true},
      {"127.255.0.9:65535", "127.255.0.9:65535", true},
      {"10.0.0.1:80", "10.0.0.1:80", false},
      {"[::1]:47812", "[::1]:47812", true},
      {"[0:0:0:0:0:0:0:1]:1", "[::1]:1", true},
      {"[::]:47811", "[::]:47811", false},
      {"[2001:DB8::1]:443", "[2001:db8::1]:443", false},
      {"[::ffff:127.0.0.1]:1", "[::ffff:127.0.0.1]:1", false},
      {"127.0.0.1", nullptr, false},
      {"127.0.0.1:", nullptr, false},
      {"127.0.0.1:+80", nullptr, false},
      {"127.0.0.1:65536", nullptr, false},
      {"127.0.0.1:080000", nullptr, false},
      {"127.0.0.1 :80", nullptr, false},
      {"127.1:80", nullptr, false},
      {"256.0.0.1:80", nullptr, false},
      {"localhost:80", nullptr, false},
      {"::1:80", nullptr, false},
      {"[::1]", nullptr, false},
      {"[::1]:", nullptr, false},
      {"[127.0.0.1]:80", nullptr, false},
      {"[fe80::1%eth0]:80", nullptr, false},
      {":80", nullptr, false},
      {"", nullptr, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto got = SocketAddr::parse(c.text);
    if (!c.shown) {
      EXPECT_EQ(got, std::nullopt);
      continue;
    }
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->to_string(), c.shown);
    EXPECT_EQ(got->is_loopback(), c.loopback);
    EXPECT_EQ(SocketAddr::parse(got->to_string()), got);  // the display form reads back
  }
}

TEST(Utf8, RefusesMalformedSequences) {
  struct Case {
    const char* name;
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"ascii", "plain", true},
      {"two_three_four", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", true},
      {"max_code_point", "\xf4\x8f\xbf\xbf", true},
      {"lone_continuation", "\x80", false},
      {"truncated", "\xe2\x82", false},
      {"overlong_slash", "\xc0\xaf", false},
      {"surrogate", "\xed\xa0\x80", false},
      {"past_max", "\xf4\x90\x80\x80", false},
      {"latin1", "caf\xe9", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(is_utf8(c.bytes), c.valid);
  }
}

}  // namespace
}  // namespace ostrel_server::config
