#include "services/held_tools.hpp"

#include <gtest/gtest.h>

#include "hub/hub.hpp"
#include "support/hub_fixture.hpp"

namespace ostrel_server::handle {
namespace {

using test::player;
using transport::endpoint::kSpawn;

TEST(HeldTools, SetAndReadTheTool) {
  transport::endpoint::HubInit init;
  init.tools = {{"m:pick", ostrel_core::script::records::Tool{.id = "m:pick"}},
                {"m:axe", ostrel_core::script::records::Tool{.id = "m:axe"}}};
  auto hub = test::make_hub(std::move(init));
  hub->add_player(player(1), kSpawn);
  HeldTools tools(hub);

  EXPECT_EQ(tools.tool(player(1)), std::nullopt);
  EXPECT_TRUE(tools.set_tool(player(1), "m:pick"));
  EXPECT_EQ(tools.tool(player(1)), "m:pick");
  EXPECT_FALSE(tools.set_tool(player(1), "m:shovel"));  // not registered: nothing changes
  EXPECT_EQ(tools.tool(player(1)), "m:pick");
  EXPECT_TRUE(tools.set_tool(player(1), std::nullopt));
  EXPECT_EQ(tools.tool(player(1)), std::nullopt);

  EXPECT_FALSE(tools.set_tool(player(2), "m:axe"));  // not connected
  EXPECT_FALSE(tools.set_tool(player(2), std::nullopt));
  EXPECT_EQ(tools.tool(player(2)), std::nullopt);
}

}  // namespace
}  // namespace ostrel_server::handle
