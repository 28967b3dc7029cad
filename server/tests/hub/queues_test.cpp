#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <variant>

#include "hub/hub.hpp"
#include "support/hub_fixture.hpp"
#include "support/log_capture.hpp"

namespace ostrel_server::transport::endpoint {
namespace {

using test::make_hub;
using test::player;
namespace proto = ostrel_core::proto;

std::shared_ptr<Shared> hub_with_action(std::string id) {
  HubInit init;
  init.tables.actions.push_back({.id = std::move(id)});
  return make_hub(std::move(init));
}

// One queue seen from both ends: push the i-th record, and drain.
struct QueueCase {
  const char* name;
  std::function<bool(Shared&, int)> push;
  std::function<std::size_t(Shared&)> drain;
};

std::vector<QueueCase> every_queue() {
  auto p = player(1);
  return {
      {"edits",
       [p](Shared& h, int i) {
         return h.queue_edit(p, proto::edit::Set{{i, 0, 0}, 1});
       },
       [](Shared& h) { return h.drain_edits().size(); }},
      {"punches", [p](Shared& h, int i) { return h.queue_punch(p, i); },
       [](Shared& h) { return h.drain_punches().size(); }},
      {"uses",
       [p](Shared& h, int i) {
         return h.queue_use(p, SubNodePos{i, 0, 0});
       },
       [](Shared& h) { return h.drain_uses().size(); }},
      {"actions", [p](Shared& h, int i) { return h.queue_action(p, "m:jump", i % 2); },
       [](Shared& h) { return h.drain_actions().size(); }},
      {"setting_changes", [p](Shared& h, int i) { return h.queue_setting_change(p, "m:fov", i); },
       [](Shared& h) { return h.drain_setting_changes().size(); }},
      {"chat", [p](Shared& h, int i) { return h.queue_chat(p, std::to_string(i)); },
       [](Shared& h) { return h.drain_chat().size(); }},
      {"dialog_events",
       [p](Shared& h, int) { return h.queue_dialog_event(p, "form", proto::dialog_event::Closed{}); },
       [](Shared& h) { return h.drain_dialog_events().size(); }},
      {"seeds",
       [](Shared& h, int i) {
         return h.queue_seed("overworld", seed::Whole{3, {i, 0, 0}}) == plans::Queued::Queued;
       },
       [](Shared& h) { return h.drain_seeds().size(); }},
      {"placements",
       [p](Shared& h, int i) {
         return h.queue_placement({.player = p, .target = {i, 0, 0}});
       },
       [](Shared& h) { return h.drain_placements().size(); }},
  };
}

TEST(HubQueues, EachHolds4096AndTheRefusedRecordNeverDrains) {
  for (const auto& q : every_queue()) {
    SCOPED_TRACE(q.name);
    auto hub = hub_with_action("m:jump");
    for (int i = 0; i < 4095; ++i) ASSERT_TRUE(q.push(*hub, i));
    EXPECT_TRUE(q.push(*hub, 4095));  // 4095 held still take one more
    EXPECT_FALSE(q.push(*hub, 4096));
    EXPECT_EQ(q.drain(*hub), 4096u);
    EXPECT_EQ(q.drain(*hub), 0u);  // the refused one is gone for good
    EXPECT_TRUE(q.push(*hub, 0));  // room again after the drain
  }
}

TEST(HubQueues, FullSeedQueueAnswersFullNotRefused) {
  auto hub = make_hub();
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(hub->queue_merge("o", {i, 0, 0}, 3, 1), plans::Queued::Queued);
  EXPECT_EQ(hub->queue_seed("o", seed::Whole{3, {}}), plans::Queued::Full);
  EXPECT_EQ(hub->queue_merge("o", {}, 3, 1), plans::Queued::Full);
}

TEST(HubQueues, UnknownActionIsRefusedEvenWithRoom) {
  auto hub = hub_with_action("m:jump");
  EXPECT_FALSE(hub->queue_action(player(1), "m:jum", true));
  EXPECT_FALSE(hub->queue_action(player(1), "M:JUMP", true));
  EXPECT_TRUE(hub->queue_action(player(1), "m:jump", true));
  auto drained = hub->drain_actions();
  ASSERT_EQ(drained.size(), 1u);
  EXPECT_EQ(drained[0], (ActionRequest{player(1), "m:jump", true}));
}

TEST(HubQueues, DrainsKeepArrivalOrderAcrossPlayers) {
  auto hub = make_hub();
  hub->queue_edit(player(2), proto::edit::Set{{1, 0, 0}, 1});
  hub->queue_edit(player(1), proto::edit::Cell{{2, 0, 0}, 2});
  hub->queue_edit(player(2), proto::edit::Partial{{3, 0, 0}, 3, 7});
  auto edits = hub->drain_edits();
  ASSERT_EQ(edits.size(), 3u);
  EXPECT_EQ(edits[0].player, player(2));
  EXPECT_EQ(edits[1].player, player(1));
  EXPECT_TRUE(std::holds_alternative<proto::edit::Partial>(edits[2].edit));
}

constexpr std::uint32_t kFull = 0x7FFFFFF;
constexpr MaterialId kShaped = 10;     // whole, shape 0x1FF
constexpr MaterialId kFullWhole = 11;  // whole, all 27 cells
constexpr MaterialId kGround = 12;     // not whole

std::shared_ptr<Shared> hub_with_whole_materials() {
  HubInit init;
  init.whole_materials = {{kShaped, 0x1FF}, {kFullWhole, kFull}};
  return make_hub(std::move(init));
}

TEST(HubSeeds, WholeMaterialRules) {
  const std::string one_cell =
      "a mod asked to write one cell of a whole material; a whole material is written as its own shape, with "
      "`set_block` (Sub-Node Contract §7.5) material=10";
  const std::string part =
      "a mod asked to write part of a whole material; a whole material is written as its own shape, with "
      "`set_block` (Sub-Node Contract §7.5) material=10";
  const std::string merge =
      "a mod asked to merge a whole material into a block; a whole material is written as its own shape, "
      "with "
      "`set_block` (Sub-Node Contract §7.5) material=10";
  struct Case {
    const char* name;
    Seed seed;
    plans::Queued answer;
    std::optional<Seed> queued;  // what the tick drains
    std::string warn;            // the WARN line's end, or empty
  };
  const BlockPos at{4, 5, 6};
  const Case cases[] = {
      {"whole of a shaped material becomes its shape", seed::Whole{kShaped, at}, plans::Queued::Queued,
       seed::Masked{kShaped, at, 0x1FF}, ""},
      {"whole of a full whole material stays whole", seed::Whole{kFullWhole, at}, plans::Queued::Queued,
       seed::Whole{kFullWhole, at}, ""},
      {"masked with exactly the shape", seed::Masked{kShaped, at, 0x1FF}, plans::Queued::Queued,
       seed::Masked{kShaped, at, 0x1FF}, ""},
      {"masked with another mask", seed::Masked{kShaped, at, 0x0FF}, plans::Queued::Refused, std::nullopt,
       part},
      {"one cell of a whole material", seed::Cell{kShaped, {12, 15, 18}}, plans::Queued::Refused,
       std::nullopt, one_cell},
      {"merge of a whole material", seed::Merge{kShaped, at, 1}, plans::Queued::Refused, std::nullopt, merge},
      {"ground is queued as it is", seed::Cell{kGround, {1, 2, 3}}, plans::Queued::Queued,
       seed::Cell{kGround, {1, 2, 3}}, ""},
      {"ground merge", seed::Merge{kGround, at, 0x10}, plans::Queued::Queued, seed::Merge{kGround, at, 0x10},
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto hub = hub_with_whole_materials();
    ostrel_core::test::LogCapture log;
    EXPECT_EQ(hub->queue_seed("overworld", c.seed), c.answer);
    auto drained = hub->drain_seeds();
    if (c.queued) {
      ASSERT_EQ(drained.size(), 1u);
      EXPECT_EQ(drained[0], (SeedRequest{"overworld", *c.queued}));
    } else {
      EXPECT_TRUE(drained.empty());
    }
    if (c.warn.empty()) {
      EXPECT_TRUE(log.lines().empty());
    } else {
      ASSERT_EQ(log.lines().size(), 1u);
      EXPECT_NE(log.lines()[0].find(" WARN ostrel_server::transport::endpoint: " + c.warn), std::string::npos)
          << log.lines()[0];
    }
  }
}

TEST(HubSeeds, QueueMergeRefusesAWholeMaterialWithTheMergeLine) {
  auto hub = hub_with_whole_materials();
  ostrel_core::test::LogCapture log;
  EXPECT_EQ(hub->queue_merge("overworld", {}, kFullWhole, 1), plans::Queued::Refused);
  ASSERT_EQ(log.containing("a mod asked to merge a whole material into a block").size(), 1u);
  EXPECT_EQ(hub->queue_merge("overworld", {1, 1, 1}, kGround, 3), plans::Queued::Queued);
  EXPECT_EQ(hub->drain_seeds(),
            (std::vector<SeedRequest>{{"overworld", seed::Merge{kGround, {1, 1, 1}, 3}}}));
}

TEST(HubSeeds, IsWholeOnlyForWholeMaterials) {
  auto hub = hub_with_whole_materials();
  plans::EditQueue& q = *hub;
  EXPECT_TRUE(q.is_whole(kShaped));
  EXPECT_TRUE(q.is_whole(kFullWhole));
  EXPECT_FALSE(q.is_whole(kGround));
  EXPECT_FALSE(q.is_whole(0));
}

}  // namespace
}  // namespace ostrel_server::transport::endpoint
