#include <gtest/gtest.h>

#include <limits>

#include "hub/hub.hpp"
#include "support/hub_fixture.hpp"
#include "support/hub_probe.hpp"
#include "support/log_capture.hpp"

namespace ostrel_server::transport::endpoint {
namespace {

using test::make_hub;
using test::player;
namespace proto = ostrel_core::proto;
namespace dig = ostrel_core::dig;
using Brush = ostrel_core::script::records::Brush;

constexpr MaterialId kStone = 2;
constexpr MaterialId kOre = 3;
constexpr MaterialId kGem = 4;
constexpr MaterialId kDirt = 7;

HubInit dig_init() {
  HubInit init;
  init.tools = {{"hand", Tool{.id = "hand", .brush = Brush::Block, .speed = 1.0f}},
                {"chisel", Tool{.id = "chisel", .brush = Brush::Subnode, .speed = 1.0f}}};
  init.default_tool = "hand";
  init.tool_speeds = {{"hand", {{kOre, 3.0f}}}};
  init.drops = {{kOre, {{kGem, 1}}}};
  init.block_ids = {{"test:stone", kStone}, {"test:gem", kGem}};
  init.resistances = {{kStone, {1.0f, 1.0f}}, {kOre, {3.0f, 1.0f}}};
  init.operators = {player(9)};
  return init;
}

std::shared_ptr<Shared> digging_hub() {
  auto hub = make_hub(dig_init());
  hub->add_player(player(1), kSpawn);
  return hub;
}

TEST(HubDig, AFullBlockComesOffOverFifteenTicks) {
  auto hub = digging_hub();
  hub->set_dig(player(1), SubNodePos{3, 3, 3});
  EXPECT_EQ(hub->advance_dig(player(1), 27, kStone, 0.75f), (DigAdvance{1, false, true}));
  EXPECT_EQ(hub->advance_dig(player(1), 27, kStone, 0.75f), (DigAdvance{2, false, false}));
  std::uint32_t removed = 3;
  DigAdvance last;
  for (int tick = 3; tick <= 15; ++tick) {
    last = hub->advance_dig(player(1), 27, kStone, 0.75f);
    removed += last.cells;
    EXPECT_EQ(last.complete, tick == 15) << tick;
  }
  EXPECT_EQ(removed, 27u);
  auto progress = hub->dig_progress(player(1));
  ASSERT_TRUE(progress);
  EXPECT_EQ(progress->progress, 1.0f);
  EXPECT_EQ(progress->target, (SubNodePos{3, 3, 3}));
}

TEST(HubDig, AThirdFullBlockTakesFiveTicksAndToolSpeedsApply) {
  auto hub = digging_hub();
  hub->set_dig(player(1), SubNodePos{0, 0, 0});
  hub->advance_dig(player(1), 9, kStone, 0.75f);
  EXPECT_EQ((*hub->players()->lock())->at(player(1)).dig->ticks_needed, 5u);
  hub->set_dig(player(1), std::nullopt);
  hub->set_dig(player(1), SubNodePos{0, 0, 0});
  hub->advance_dig(player(1), 27, kOre, 3.0f);  // speed 3 on ore: 3 x 20 / 3
  EXPECT_EQ((*hub->players()->lock())->at(player(1)).dig->ticks_needed, 20u);
}

TEST(HubDig, WithoutADigThereIsNothingToAdvanceOrShow) {
  auto hub = digging_hub();
  EXPECT_EQ(hub->advance_dig(player(1), 27, kStone, 0.75f), (DigAdvance{}));
  EXPECT_FALSE(hub->dig_progress(player(1)));
  EXPECT_EQ(hub->advance_dig(player(5), 27, kStone, 0.75f), (DigAdvance{}));
  EXPECT_TRUE(hub->digs_in_progress().empty());
}

TEST(HubDig, NoToolNoDig) {
  HubInit init = dig_init();
  init.default_tool.reset();
  auto hub = make_hub(std::move(init));
  hub->add_player(player(1), kSpawn);
  hub->set_dig(player(1), SubNodePos{0, 0, 0});
  EXPECT_FALSE(hub->dig_progress(player(1)));
  EXPECT_EQ(hub->place_brush(player(1)), 0);
  hub->select_tool(player(1), "chisel");
  hub->set_dig(player(1), SubNodePos{0, 0, 0});
  EXPECT_TRUE(hub->dig_progress(player(1)));
  EXPECT_EQ(hub->place_brush(player(1)), dig::kBrushSubnode);
}

TEST(HubDig, SelectingAToolMidDigEndsIt) {
  auto hub = digging_hub();
  hub->set_dig(player(1), SubNodePos{0, 0, 0});
  hub->advance_dig(player(1), 27, kStone, 0.75f);
  hub->select_tool(player(1), "chisel");
  EXPECT_FALSE(hub->dig_progress(player(1)));
  EXPECT_EQ((*hub->players()->lock())->at(player(1)).tool, "chisel");
  hub->select_tool(player(1), "no such tool");  // names nothing: none, the default applies
  EXPECT_FALSE((*hub->players()->lock())->at(player(1)).tool);
  EXPECT_EQ(hub->resolve_tool(std::nullopt)->id, "hand");
  EXPECT_EQ(hub->resolve_tool("no such tool")->id, "hand");
}

TEST(HubDig, WholeRetargetInTheSameBlockKeepsProgressAndDrops) {
  auto hub = digging_hub();
  hub->set_dig(player(1), SubNodePos{3, 3, 3});
  hub->make_dig_whole(player(1));
  hub->advance_dig(player(1), 1, kStone, 1.0f);
  hub->set_dig_drops(player(1), std::vector<std::pair<std::string, std::uint32_t>>{{"test:gem", 27}});
  hub->set_dig(player(1), SubNodePos{5, 4, 3});  // same block (1, 1, 1)
  {
    auto g = hub->players()->lock();
    const auto& p = (*g)->at(player(1));
    EXPECT_EQ(p.dig->elapsed, 1u);
    EXPECT_EQ(p.dig->brush, dig::kBrushWhole);
    EXPECT_TRUE(p.yield.drops);
  }
  hub->set_dig(player(1), SubNodePos{6, 3, 3});  // the next block: progress and drops go
  auto g = hub->players()->lock();
  const auto& p = (*g)->at(player(1));
  EXPECT_EQ(p.dig->elapsed, 0u);
  EXPECT_FALSE(p.yield.drops);
}

TEST(HubDig, DigsInProgressFlagTheUntouched) {
  auto hub = digging_hub();
  hub->add_player(player(2), kSpawn);
  hub->set_dig(player(2), SubNodePos{1, 2, 3});
  hub->set_dig(player(1), SubNodePos{4, 5, 6});
  hub->advance_dig(player(1), 27, kStone, 0.75f);
  auto digs = hub->digs_in_progress();
  ASSERT_EQ(digs.size(), 2u);
  EXPECT_EQ(digs[0], (DigEntry{player(1), {4, 5, 6}, dig::kBrushBlock, false}));
  EXPECT_EQ(digs[1], (DigEntry{player(2), {1, 2, 3}, dig::kBrushBlock, true}));
  // Recounting the ticks alone (0 cells) leaves a dig untouched.
  hub->advance_dig(player(2), 0, kStone, 0.75f);
  EXPECT_TRUE(hub->digs_in_progress()[1].started);
}

TEST(HubYield, ARegisteredListPaysPerBlockAndCarriesAcrossDigs) {
  auto hub = digging_hub();
  auto ore = [](std::uint32_t n) { return std::vector<Stack>{Stack{.material = kOre, .units = n}}; };
  EXPECT_TRUE(hub->yield_of(player(1), ore(10)).empty());
  hub->set_dig(player(1), SubNodePos{0, 0, 0});
  hub->set_dig(player(1), std::nullopt);  // ending a dig keeps the carry
  EXPECT_EQ(hub->yield_of(player(1), ore(17)), (std::vector<Stack>{{.material = kGem, .units = 1}}));
}

TEST(HubYield, NoListYieldsTheBlockAndAHookListWins) {
  auto hub = digging_hub();
  std::vector<Stack> dirt{Stack{.material = kDirt, .units = 5}};
  EXPECT_EQ(hub->yield_of(player(1), dirt), dirt);
  hub->set_dig_drops(player(1), std::vector<std::pair<std::string, std::uint32_t>>{{"test:stone", 54}});
  EXPECT_EQ(hub->yield_of(player(1), {Stack{.material = kOre, .units = 27}}),
            (std::vector<Stack>{{.material = kStone, .units = 54}}));
  hub->set_dig_drops(player(1), std::nullopt);  // the block's own list again
  EXPECT_EQ(hub->yield_of(player(1), {Stack{.material = kOre, .units = 27}}),
            (std::vector<Stack>{{.material = kGem, .units = 1}}));
}

TEST(HubYield, AnUnregisteredDropNameIsLeftOutWithOneWarning) {
  auto hub = digging_hub();
  ostrel_core::test::LogCapture log;
  hub->set_dig_drops(
      player(1), std::vector<std::pair<std::string, std::uint32_t>>{{"nobody:block", 27}, {"test:gem", 27}});
  auto lines = log.containing("a dig hook's `drops` names a block nobody registered; left out");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("block=\"nobody:block\""), std::string::npos);
  EXPECT_EQ(hub->yield_of(player(1), {Stack{.material = kStone, .units = 27}}),
            (std::vector<Stack>{{.material = kGem, .units = 27}}));
}

TEST(HubYield, WouldYieldChangesNothing) {
  auto hub = digging_hub();
  std::vector<Stack> ore{Stack{.material = kOre, .units = 20}};
  EXPECT_TRUE(hub->would_yield(player(1), ore).empty());
  EXPECT_TRUE(hub->would_yield(player(1), ore).empty());  // the preview kept no carry
  EXPECT_TRUE(hub->yield_of(player(1), ore).empty());     // carry 20
  EXPECT_EQ(hub->would_yield(player(1), ore), (std::vector<Stack>{{.material = kGem, .units = 1}}));
  EXPECT_EQ(hub->would_yield(player(8), ore), ore);  // not present: the input itself
}

TEST(HubDig, HardnessComesFromTheHubsTable) {
  auto hub = digging_hub();
  EXPECT_EQ(hub->block_hardness_of(0), 0.0f);
  EXPECT_EQ(hub->block_hardness_of(kDirt), 0.75f);
  ostrel_core::block::Cells cells{};
  cells[0] = kStone;
  cells[26] = kOre;
  EXPECT_FLOAT_EQ(hub->block_hardness_of(cells), 1.5f);
}

TEST(HubMayFly, AbilitiesElseOperator) {
  auto hub = digging_hub();
  hub->add_player(player(9), kSpawn);
  EXPECT_TRUE(hub->may_fly(player(9)));   // operator, no abilities
  EXPECT_FALSE(hub->may_fly(player(1)));  // neither
  auto set = [&](const PlayerUuid& p, bool fly, bool operator_fly) {
    (*hub->players()->lock())->at(p).abilities =
        proto::AbilitiesDef{.fly = fly, .operator_fly = operator_fly};
  };
  set(player(9), false, false);
  EXPECT_FALSE(hub->may_fly(player(9)));
  set(player(9), false, true);
  EXPECT_TRUE(hub->may_fly(player(9)));
  set(player(1), false, true);
  EXPECT_FALSE(hub->may_fly(player(1)));  // operator_fly only lets operators fly
  set(player(1), true, false);
  EXPECT_TRUE(hub->may_fly(player(1)));
  HubProbe::poison(*hub, HubProbe::Lock::Players);
  EXPECT_TRUE(hub->may_fly(player(9)));
  EXPECT_FALSE(hub->may_fly(player(1)));
}

}  // namespace
}  // namespace ostrel_server::transport::endpoint
