#include "start/handle.hpp"

#include <gtest/gtest.h>

#include "start/config.hpp"

namespace ostrel_server::handle {
namespace {

TEST(Settings, ViewDistancesAreClamped) {
  struct Case {
    std::uint8_t view, vertical;
    std::uint8_t want_view, want_vertical;
  };
  const Case cases[] = {
      {0, 0, 1, 1},     {1, 1, 1, 1},   {8, 12, 8, 12},    {32, 16, 32, 16},
      {33, 17, 32, 16}, {200, 17, 32, 16}, {255, 255, 32, 16},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int{c.view} << "/" << int{c.vertical});
    config::Config cfg;
    cfg.view_distance = c.view;
    cfg.vertical_view_distance = c.vertical;
    auto s = Settings::from_config(cfg);
    EXPECT_EQ(s.view_distance, c.want_view);
    EXPECT_EQ(s.vertical_view_distance, c.want_vertical);
  }
}

TEST(Settings, CopiesTheConfiguration) {
  auto cfg = config::Config::parse(R"(
bind_addr = "[::1]:9000"
world_path = "w"
max_players = 3
seed = 42
operators = ["op"]
mods_path = "m"
enabled_mods = ["a", "b"]
[world_options]
zeta = "1"
alpha = "2"
[rcon]
token = "0123456789abcdef"
)",
                                   "c.toml");
  ASSERT_TRUE(cfg.has_value());
  auto s = Settings::from_config(*cfg);
  EXPECT_EQ(s.bind_addr, cfg->bind_addr);
  EXPECT_EQ(s.world_path, std::filesystem::path("w"));
  EXPECT_EQ(s.max_players, 3u);
  EXPECT_EQ(s.seed, 42u);
  EXPECT_EQ(s.operators, std::vector<std::string>{"op"});
  EXPECT_EQ(s.mods_path, std::filesystem::path("m"));
  EXPECT_EQ(s.enabled_mods, (std::vector<std::string>{"a", "b"}));
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(s.world_options, (Pairs{{"alpha", "2"}, {"zeta", "1"}}));  // ascending option ids
  EXPECT_EQ(s.rcon, cfg->rcon);
  EXPECT_TRUE(s.extra_materials.empty());
  EXPECT_EQ(s.cert_dir, std::nullopt);
}

}  // namespace
}  // namespace ostrel_server::handle
