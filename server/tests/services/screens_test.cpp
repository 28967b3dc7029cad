// Screens: dialogs, closes and hover lines as one player receives them, the record of open
// dialogs, and the dialog functions of a mod reaching it.

#include "services/screens.hpp"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cctype>
#include <string>
#include <thread>
#include <vector>

#include "base/text.hpp"
#include "hub/hub.hpp"
#include "proto/server.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "support/hub_fixture.hpp"
#include "support/mod_env.hpp"
#include "support/script_engine.hpp"

namespace ostrel_server::handle {
namespace {

namespace server = ostrel_core::proto::server;
namespace tree = ostrel_core::ui::tree;
using ostrel_core::identity::PlayerUuid;
using ostrel_core::proto::Frame;
using ostrel_core::ui::host::ShowRequest;
using test::player;
using transport::endpoint::kSpawn;

std::string hex(const PlayerUuid& p) { return ostrel_core::text::hex_bytes(p.bytes); }
std::string upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

using Sent = std::vector<std::vector<std::uint8_t>>;

std::vector<std::uint8_t> bytes(const Frame& f) { return {f.payload().begin(), f.payload().end()}; }
template <class M>
std::vector<std::uint8_t> bytes(const M& m) {
  return bytes(ostrel_core::proto::encode(m));
}

tree::Tree label(std::string text) {
  tree::Tree t;
  t.nodes.push_back(tree::Node{.widget = tree::Label{std::move(text)}, .first_child = 1});
  return t;
}

ShowRequest request(std::string player, std::string form, bool update = false) {
  return ShowRequest{.player = std::move(player), .form = std::move(form), .tree = label("hi"), .update = update,
                     .mod = "m"};
}

struct Fixture {
  std::shared_ptr<transport::endpoint::Shared> hub;
  std::shared_ptr<Screens> screens;
  explicit Fixture(transport::endpoint::HubInit init = {})
      : hub(test::make_hub(std::move(init))), screens(std::make_shared<Screens>(hub)) {
    hub->add_player(player(1), kSpawn);
    hub->add_player(player(2), kSpawn);
  }
  std::vector<std::vector<std::uint8_t>> sent(const PlayerUuid& p) {
    std::vector<std::vector<std::uint8_t>> out;
    for (const auto& f : hub->take_entity_messages(p)) out.push_back(bytes(f));
    return out;
  }
};

TEST(Screens, AShowGoesOutAsOneMessageThenThePlayersViews) {
  transport::endpoint::HubInit init;
  init.views = {{"m:bag", 2}};
  Fixture f(std::move(init));
  f.hub->ensure_inventory(player(1));
  const auto views = f.hub->view_updates(player(1));
  ASSERT_FALSE(views.empty());

  auto vm = ostrel_core::test::make_engine();
  ASSERT_TRUE(ostrel_core::test::load(vm, "m", ""));
  vm.set_dialog_access(f.screens);
  EXPECT_EQ(ostrel_core::test::run_in(
                vm, "m",
                fmt::format("assert(game.show_dialog({{ player = '{}', form = 'chest', tree = {{ type = 'label', "
                            "text = 'hi' }}, compact = true }}) == true)",
                            hex(player(1)))),
            "");
  const auto sent = f.sent(player(1));
  ASSERT_EQ(sent.size(), 1 + views.size());
  std::vector<std::uint8_t> want = {0x1C, 0x07, 0x6D, 0x3A, 0x63, 0x68, 0x65, 0x73, 0x74, 0x01, 0x01, 0x02, 0x68, 0x69};
  want.insert(want.end(), 11, 0x00);
  want.insert(want.end(), {0x01, 0x00, 0x01});
  EXPECT_EQ(sent[0], want);
  for (std::size_t i = 0; i < views.size(); ++i) EXPECT_EQ(sent[1 + i], bytes(views[i]));
  EXPECT_EQ(f.screens->owner(player(1), "m:chest"), "m");

  // Refused before anything is sent: another namespace, a player id of 63 digits.
  EXPECT_EQ(ostrel_core::test::run_in(
                vm, "m",
                fmt::format("game.show_dialog({{ player = '{}', form = 'other:chest', tree = {{ type = 'label' }} }})",
                            hex(player(1)))),
            "mod `m` may not register into namespace `other`: a mod owns only its own id as a namespace");
  EXPECT_EQ(ostrel_core::test::run_in(
                vm, "m",
                fmt::format("assert(game.show_dialog({{ player = '{}', form = 'chest', tree = {{ type = 'label' }} }}) "
                            "== false)",
                            hex(player(1)).substr(1))),
            "");
  EXPECT_TRUE(f.sent(player(1)).empty());
}

TEST(Screens, TheRecordIsKeyedByTheParsedPlayer) {
  Fixture f;
  // Shown with upper-case digits, closed by the lower-case id the tick uses.
  EXPECT_TRUE(f.screens->show(request(upper(hex(player(1))), "m:chest")));
  EXPECT_EQ(f.screens->owner(player(1), "m:chest"), "m");
  EXPECT_EQ(f.screens->owner(player(1), "m:other"), std::nullopt);
  f.sent(player(1));
  EXPECT_TRUE(f.screens->close(hex(player(1)), "m:chest"));
  EXPECT_FALSE(f.screens->close(hex(player(1)), "m:chest"));
  const auto closed = bytes(server::CloseDialog{"m:chest"});
  EXPECT_EQ(f.sent(player(1)), (Sent{closed, closed}));
  EXPECT_EQ(f.screens->owner(player(1), "m:chest"), std::nullopt);

  // An update of a dialog never shown is sent and recorded; invalid ids send nothing.
  EXPECT_TRUE(f.screens->show(request(hex(player(1)), "m:form", true)));
  EXPECT_EQ(f.sent(player(1)), (Sent{bytes(server::UpdateDialog{"m:form", label("hi"), 0})}));
  EXPECT_EQ(f.screens->owner(player(1), "m:form"), "m");
  EXPECT_FALSE(f.screens->close("not a player", "m:form"));
  EXPECT_FALSE(f.screens->show(request("", "m:form")));
  EXPECT_FALSE(f.screens->set_hover(hex(player(1)).substr(2), {}));
  EXPECT_TRUE(f.sent(player(1)).empty());
  EXPECT_EQ(f.screens->owner(player(1), "m:form"), "m");
}

TEST(Screens, ALeavingPlayersRecordsAreForgottenAlone) {
  Fixture f;
  for (const char* form : {"m:a", "m:b", "n:c"}) {
    EXPECT_TRUE(f.screens->show(request(hex(player(1)), form)));
    EXPECT_TRUE(f.screens->show(request(hex(player(2)), form)));
  }
  f.screens->forget_player(player(1));
  for (const char* form : {"m:a", "m:b", "n:c"}) {
    EXPECT_EQ(f.screens->owner(player(1), form), std::nullopt) << form;
    EXPECT_EQ(f.screens->owner(player(2), form), "m") << form;
  }
  EXPECT_FALSE(f.screens->close(hex(player(1)), "m:a"));
  EXPECT_TRUE(f.screens->close(hex(player(2)), "m:a"));
}

TEST(Screens, AShowTheQueueRefusesIsNotRecorded) {
  Fixture f;
  for (std::size_t i = 0; i < transport::endpoint::kMaxSingleMessages; ++i) {
    ASSERT_FALSE(f.hub->push_entity_message(player(1), server::CloseDialog{"x"}));
  }
  EXPECT_FALSE(f.screens->show(request(hex(player(1)), "m:chest")));
  EXPECT_EQ(f.screens->owner(player(1), "m:chest"), std::nullopt);
  EXPECT_FALSE(f.screens->set_hover(hex(player(1)), {{2, "x"}}));
  const auto sent = f.sent(player(1));
  EXPECT_EQ(sent.size(), transport::endpoint::kMaxSingleMessages);
  EXPECT_EQ(sent.back(), bytes(server::CloseDialog{"x"}));
  // With room again it goes out.
  EXPECT_TRUE(f.screens->show(request(hex(player(1)), "m:chest")));
  EXPECT_EQ(f.screens->owner(player(1), "m:chest"), "m");
}

TEST(Screens, MaterialsLeaveInTheWorldsIds) {
  transport::endpoint::HubInit init;
  init.material_map = ostrel_core::persist::idmap::MaterialMap{};
  init.material_map.forward = {0, 1, 2, 3, 4, 40, ostrel_core::persist::idmap::kUnmapped};
  Fixture f(std::move(init));
  ShowRequest r = request(hex(player(1)), "m:shape");
  std::vector<std::uint16_t> cells(27, 0);
  cells[0] = 5;
  cells[1] = 6;
  cells[2] = 70;
  r.tree = tree::Tree{};
  r.tree.nodes.push_back(tree::Node{.widget = tree::Container{}, .first_child = 1, .child_count = 2});
  r.tree.nodes.push_back(tree::Node{.widget = tree::ShapeEditor{0x7, 5, cells}, .first_child = 3});
  r.tree.nodes.push_back(tree::Node{.widget = tree::ShapeEditor{0x7FFFFFF, 6, {}}, .first_child = 3});
  EXPECT_TRUE(f.screens->show(r));
  tree::Tree want = r.tree;
  std::vector<std::uint16_t> world_cells(27, 0);
  world_cells[0] = 40;
  world_cells[1] = 1;
  world_cells[2] = 1;
  want.nodes[1].widget = tree::ShapeEditor{0x7, 40, world_cells};
  want.nodes[2].widget = tree::ShapeEditor{0x7FFFFFF, 1, {}};
  EXPECT_EQ(f.sent(player(1)), (Sent{bytes(server::ShowDialog{"m:shape", want, 0})}));

  EXPECT_TRUE(f.screens->set_hover(hex(player(1)), {{5, "five"}, {6, "six"}}));
  EXPECT_TRUE(f.screens->set_hover(hex(player(1)), {}));
  EXPECT_EQ(f.sent(player(1)), (Sent{bytes(server::SetHover{{{40, "five"}, {1, "six"}}}),
                                            bytes(server::SetHover{})}));
}

TEST(ScreensStress, ShowsClosesAndLeaversFromSeveralThreads) {
  Fixture f;
  constexpr int kRounds = 400;
  std::vector<std::thread> threads;
  for (std::uint8_t t = 1; t <= 4; ++t) {
    threads.emplace_back([&, t] {
      const std::string id = hex(player(t));
      for (int i = 0; i < kRounds; ++i) {
        const std::string form = fmt::format("m:{}", i % 8);
        f.screens->show(request(id, form));
        f.screens->owner(player(t), form);
        if (i % 3 == 0) f.screens->close(id, form);
        if (i % 50 == 0) f.screens->forget_player(player(t));
        f.hub->take_entity_messages(player(t));
      }
    });
  }
  for (auto& th : threads) th.join();
  // Form m:6 was last shown in round 398, after the last forget (350), and not closed.
  for (std::uint8_t t = 1; t <= 4; ++t) EXPECT_EQ(f.screens->owner(player(t), "m:6"), "m");
}

}  // namespace
}  // namespace ostrel_server::handle
