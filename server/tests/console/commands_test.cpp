// The console commands run in-process against a hub: every reply's exact text and what each
// command changes.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include <asio/io_context.hpp>
#include <gtest/gtest.h>

#include "console/commands.hpp"
#include "console/rcon.hpp"
#include "hub/player_slot.hpp"
#include "support/console.hpp"
#include "support/ed25519.hpp"
#include "support/hub_fixture.hpp"
#include "support/log_capture.hpp"
#include "support/run.hpp"

namespace ostrel_server::rcon {
namespace {

using test::ConsoleWorld;
using transport::endpoint::PlayerSlot;
using Answer = std::expected<Reply, std::string>;

struct Console {
  asio::io_context io;
  ConsoleWorld world;

  explicit Console(ConsoleWorld w = ConsoleWorld()) : world(std::move(w)) {}
  Answer run(const std::string& line) { return test::run_sync(io, execute(line, *world.ctx)); }
  // The text of a reply that must succeed and keep the session open.
  std::string ok(const std::string& line) {
    auto got = run(line);
    if (!got) {
      ADD_FAILURE() << line << " failed: " << got.error();
      return {};
    }
    EXPECT_FALSE(got->close) << line;
    return got->text;
  }
  std::string err(const std::string& line) {
    auto got = run(line);
    if (got) {
      ADD_FAILURE() << line << " answered " << got->text;
      return {};
    }
    return got.error();
  }
};

std::string hex_of(std::uint8_t fill) { return test::player(fill).to_hex(); }

TEST(ConsoleCommands, HelpQuitAndUnknownWords) {
  Console c;
  EXPECT_EQ(c.ok("help"), kHelp);
  EXPECT_EQ(kHelp.size(), 159u);
  for (const char* word : {"quit", "exit"}) {
    EXPECT_EQ(c.run(word), (Answer(Reply{"bye", true})));
  }
  EXPECT_EQ(c.err("QUIT"), "unknown command `QUIT`; try `help`");
  EXPECT_EQ(c.err("auth correct-horse-battery"), "unknown command `auth`; try `help`");
  EXPECT_EQ(c.err("st\xef\xbf\xbdtus now"), "unknown command `st\xef\xbf\xbdtus`; try `help`");
}

TEST(ConsoleCommands, StatusListsOnlinePlayersInIdOrder) {
  Console c;
  auto& control = *c.world.hub->control();
  control.set_ticks(1234);
  control.set_dropped(5);
  control.note_tick(std::chrono::microseconds(4321));
  EXPECT_EQ(c.ok("status"), "tick 1234 | players 0/16 | dropped 5 | slowest tick 4321us");

  auto bob = PlayerSlot::claim(c.world.hub, c.world.uuid("bob"), "bob");
  auto alice = PlayerSlot::claim(c.world.hub, c.world.uuid("alice"), "alice");
  auto a = c.world.uuid("alice"), b = c.world.uuid("bob");
  std::vector<std::pair<ostrel_core::identity::PlayerUuid, std::string>> order{{a, "alice"}, {b, "bob"}};
  std::sort(order.begin(), order.end());
  const std::string want = "tick 1234 | players 2/16 | dropped 5 | slowest tick 4321us\n  " + order[0].second +
                           " (" + order[0].first.to_hex().substr(0, 12) + ")\n  " + order[1].second + " (" +
                           order[1].first.to_hex().substr(0, 12) + ")";
  EXPECT_EQ(c.ok("status"), want);
  EXPECT_EQ(c.ok("status x y"), want);
}

TEST(ConsoleCommands, SaveAndStopSetTheirFlags) {
  Console c;
  int woken = 0;
  c.world.ctx->on_stop = [&] { ++woken; };
  ostrel_core::test::LogCapture logs;
  auto& control = *c.world.hub->control();
  EXPECT_EQ(c.ok("save"), "ok: save requested");
  EXPECT_EQ(c.ok("save"), "ok: save requested");
  EXPECT_TRUE(control.take_save_request());
  EXPECT_FALSE(control.take_save_request());  // two requests, one save
  EXPECT_FALSE(control.stop_requested());
  EXPECT_EQ(c.run("stop"), (Answer(Reply{"ok: stopping", true})));
  EXPECT_TRUE(control.stop_requested());
  EXPECT_EQ(woken, 1);
  EXPECT_EQ(logs.containing("INFO ostrel_server::rcon: stop requested over RCON").size(), 1u);
}

TEST(ConsoleCommands, ModsInListOrder) {
  Console none;
  EXPECT_EQ(none.ok("mods"), "no mods loaded");
  Console two(ConsoleWorld({}, {{"zeta", "1.0.0", {}}, {"alpha", "0.2.1-beta", {}}}));
  EXPECT_EQ(two.ok("mods"), "zeta 1.0.0\nalpha 0.2.1-beta");
}

TEST(ConsoleCommands, KickRefusals) {
  Console c;
  EXPECT_EQ(c.err("kick"), "usage: kick <name> [reason]");
  EXPECT_EQ(c.err("kick Alice"), "no player named `Alice`");
  EXPECT_EQ(c.err("kick dave"), "no player named `dave`");
  // Nobody online at all.
  EXPECT_EQ(c.err("kick alice"), "nobody is connected to kick");
  // Someone else online, alice registered but offline: nothing to disconnect, and it says so.
  auto kicks = c.world.hub->subscribe_kicks();
  auto bob = PlayerSlot::claim(c.world.hub, c.world.uuid("bob"), "bob");
  EXPECT_EQ(c.err("kick alice"), "`alice` is not online");
  EXPECT_EQ(kicks.try_recv().kind, decltype(kicks.try_recv())::Kind::Empty);
}

TEST(ConsoleCommands, KickSendsTheReasonToTheConnections) {
  struct Case {
    const char* line;
    const char* reason;
  };
  const Case cases[] = {
      {"kick bob", "kicked by an operator"},
      {"kick bob   too    rude", "too rude"},
      {"kick bob spam", "spam"},
  };
  Console c;
  ostrel_core::test::LogCapture logs;
  auto kicks = c.world.hub->subscribe_kicks();
  auto bob = PlayerSlot::claim(c.world.hub, c.world.uuid("bob"), "bob");
  for (const auto& k : cases) {
    SCOPED_TRACE(k.line);
    EXPECT_EQ(c.ok(k.line), "ok: kicked bob");
    auto got = kicks.try_recv();
    ASSERT_EQ(got.kind, decltype(got)::Kind::Value);
    EXPECT_EQ((*got.value)->player, c.world.uuid("bob"));
    EXPECT_EQ((*got.value)->reason, k.reason);
  }
  EXPECT_EQ(logs.containing("kicked over RCON player=\"bob\" reason=\"too rude\"").size(), 1u);
}

TEST(ConsoleCommands, KickWithNoConnectionTaskListening) {
  Console c;
  auto bob = PlayerSlot::claim(c.world.hub, c.world.uuid("bob"), "bob");
  EXPECT_EQ(c.err("kick bob"), "nobody is connected to kick");
}

TEST(ConsoleCommands, Rename) {
  Console c;
  ostrel_core::test::LogCapture logs;
  EXPECT_EQ(c.err("rename alice"), "usage: rename <name> <new-name>");
  EXPECT_EQ(c.err("rename alice b c"), "usage: rename <name> <new-name>");
  EXPECT_EQ(c.err("rename dave eve"), "no player named `dave`");
  EXPECT_EQ(c.err("rename alice bob"), "`bob` is already held by someone else");
  EXPECT_EQ(c.ok("rename alice alice"), "ok: alice is now alice");
  EXPECT_EQ(c.ok("rename alice ann"), "ok: alice is now ann");
  EXPECT_EQ(logs.containing("renamed over RCON from=\"alice\" to=\"ann\"").size(), 1u);
  auto registry = c.world.hub->identities().try_lock();
  ASSERT_TRUE(registry);
  EXPECT_EQ((*registry)->name_of(c.world.uuid("alice")), "ann");
  EXPECT_FALSE((*registry)->names().contains("alice"));
  EXPECT_TRUE((*registry)->has_changes());
}

TEST(ConsoleCommands, RebindRefusesBadInput) {
  Console c;
  const std::string alice = c.world.uuid("alice").to_hex();
  const std::string key = ostrel_core::identity::PlayerUuid{ostrel_core::test::TestKey::from_seed(9).pk}.to_hex();
  // y = 2 is no point of the curve.
  const std::string off_curve = "02" + std::string(62, '0');
  struct Case {
    std::string line;
    std::string error;
  };
  const Case cases[] = {
      {"rebind " + alice, "usage: rebind <uuid-hex> <new-root-pubkey-hex>"},
      {"rebind " + alice + " " + key + " x", "usage: rebind <uuid-hex> <new-root-pubkey-hex>"},
      {"rebind " + alice.substr(1) + " " + key, "that is not a valid 64-character UUID"},
      {"rebind " + alice + " " + key.substr(0, 63) + "g", "that is not a valid 64-character public key"},
      {"rebind " + alice + " " + key + "0", "that is not a valid 64-character public key"},
      {"rebind " + alice + " " + off_curve, "that is not a usable Ed25519 public key"},
      {"rebind " + alice + " " + std::string(64, '0'), "that is not a usable Ed25519 public key"},
      {"rebind " + hex_of(7) + " " + key, "unknown identity"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.line);
    EXPECT_EQ(c.err(k.line), k.error);
  }
  auto registry = c.world.hub->identities().try_lock();
  ASSERT_TRUE(registry);
  EXPECT_FALSE((*registry)->has_changes());
}

TEST(ConsoleCommands, RebindReplacesTheRootKey) {
  Console c;
  ostrel_core::test::LogCapture logs;
  const auto alice = c.world.uuid("alice");
  const auto fresh = ostrel_core::test::TestKey::from_seed(9);
  std::string typed = ostrel_core::identity::PlayerUuid{fresh.pk}.to_hex();
  for (auto& ch : typed) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));  // as typed
  EXPECT_EQ(c.ok("rebind " + alice.to_hex() + " " + typed), "ok: " + alice.short_form() + " rebound to " + typed);
  EXPECT_EQ(logs.containing("WARN ostrel_server::rcon: ADMIN REBIND: an identity's root key was replaced over RCON uuid=" +
                            alice.to_hex() + " new_root_key=\"" + typed + "\"")
                .size(),
            1u);
  auto registry = c.world.hub->identities().try_lock();
  ASSERT_TRUE(registry);
  EXPECT_EQ((*registry)->identity_of(fresh.key()), alice);
  EXPECT_EQ((*registry)->identity_of(ostrel_core::test::TestKey::from_seed(1).key()), std::nullopt);
}

TEST(ConsoleCommands, AllowlistListsAndChanges) {
  Console c;
  ostrel_core::test::LogCapture logs;
  const std::string a = hex_of(0xA1), b = hex_of(0x0B);
  EXPECT_EQ(c.ok("allowlist"), "allowlist: open (everyone may join)");
  EXPECT_EQ(c.ok("allowlist list"), "allowlist: open (everyone may join)");
  EXPECT_EQ(c.ok("allowlist on"), "ok: allowlist on");
  EXPECT_EQ(c.ok("allowlist"), "allowlist: enforced, 0 permitted (nobody may join)");
  EXPECT_EQ(c.ok("allowlist add " + a), "ok: add " + a.substr(0, 12));
  EXPECT_EQ(c.ok("allowlist add " + b), "ok: add " + b.substr(0, 12));
  EXPECT_EQ(c.ok("allowlist add " + b), "ok: add " + b.substr(0, 12));  // already there
  EXPECT_EQ(c.ok("allowlist list"), "allowlist: enforced, 2 permitted\n  " + b + "\n  " + a);
  EXPECT_EQ(c.ok("allowlist off"), "ok: allowlist off");
  EXPECT_EQ(c.ok("allowlist"), "allowlist: open (everyone may join)");
  EXPECT_EQ(c.ok("allowlist on"), "ok: allowlist on");
  EXPECT_EQ(c.ok("allowlist remove " + b), "ok: remove " + b.substr(0, 12));
  EXPECT_EQ(c.ok("allowlist remove " + b), "ok: remove " + b.substr(0, 12));  // already gone
  EXPECT_EQ(c.ok("allowlist"), "allowlist: enforced, 1 permitted\n  " + a);
  {
    auto list = c.world.hub->allowlist().read();
    ASSERT_TRUE(list);
    EXPECT_TRUE((*list)->enforced);
    EXPECT_EQ((*list)->permitted.size(), 1u);
  }
  EXPECT_EQ(logs.containing("allowlist enforcement changed over RCON enforced=true").size(), 2u);
  EXPECT_EQ(logs.containing("allowlist changed over RCON uuid=" + b + " action=\"remove\"").size(), 2u);
}

TEST(ConsoleCommands, AllowlistRefusals) {
  Console c;
  EXPECT_EQ(c.err("allowlist add"), "usage: allowlist add <uuid-hex>");
  EXPECT_EQ(c.err("allowlist remove"), "usage: allowlist remove <uuid-hex>");
  EXPECT_EQ(c.err("allowlist add 12ab"), "that is not a valid 64-character UUID");
  EXPECT_EQ(c.err("allowlist ON"), "unknown allowlist action `ON`; try list, on, off, add, or remove");
  EXPECT_EQ(c.err("allowlist clear"), "unknown allowlist action `clear`; try list, on, off, add, or remove");
}

}  // namespace
}  // namespace ostrel_server::rcon
