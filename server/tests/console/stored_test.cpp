// What rename and rebind change reaches the world database through the identity flush, and a
// restart reads it back: the new name, and the new root key as the identity's only key.
#include <asio/io_context.hpp>
#include <gtest/gtest.h>

#include "console/rcon.hpp"
#include "hub/hub.hpp"
#include "identity/keyset.hpp"
#include "session/store.hpp"
#include "support/ed25519.hpp"
#include "support/run.hpp"
#include "support/temp_dir.hpp"
#include "support/test_world.hpp"

namespace ostrel_server::rcon {
namespace {

using ostrel_core::session::store::flush;
using ostrel_core::session::store::load;
using ostrel_core::test::TestKey;

TEST(ConsoleStored, RenameAndRebindSurviveARestart) {
  ostrel_core::test::TempDir dir;
  const auto old_key = TestKey::from_seed(1);
  const auto new_key = TestKey::from_seed(2);
  ostrel_core::identity::PlayerUuid alice;
  {
    auto db = test::open_test_db(dir.path());
    ostrel_core::session::registry::IdentityRegistry registry;
    auto set = ostrel_core::identity::keyset::KeySet::create(old_key.key(), std::nullopt, 1000);
    alice = set.uuid();
    registry.insert(std::move(set));
    ASSERT_TRUE(registry.bind_name("alice", alice).has_value());
    ASSERT_TRUE(flush(db, registry).has_value());
  }
  {
    auto db = test::open_test_db(dir.path());
    auto report = load(db);
    ASSERT_TRUE(report.has_value());
    transport::endpoint::HubInit init;
    init.identities = std::move(report->registry);
    auto ctx = std::make_shared<RconContext>();
    ctx->token = "correct-horse-battery";
    ctx->hub = transport::endpoint::Shared::create(std::move(init));
    asio::io_context io;
    const std::string new_hex = ostrel_core::identity::PlayerUuid{new_key.pk}.to_hex();
    EXPECT_TRUE(test::run_sync(io, execute("rename alice ann", *ctx)).has_value());
    EXPECT_TRUE(test::run_sync(io, execute("rebind " + alice.to_hex() + " " + new_hex, *ctx)).has_value());
    // The tick's identity flush.
    auto registry = ctx->hub->identities().try_lock();
    ASSERT_TRUE(registry);
    ASSERT_TRUE(flush(db, **registry).has_value());
  }
  auto db = test::open_test_db(dir.path());
  auto restarted = load(db);
  ASSERT_TRUE(restarted.has_value());
  const auto& registry = restarted->registry;
  EXPECT_EQ(registry.name_of(alice), "ann");
  EXPECT_FALSE(registry.names().contains("alice"));
  EXPECT_EQ(registry.identity_of(new_key.key()), alice);
  EXPECT_EQ(registry.identity_of(old_key.key()), std::nullopt);
}

}  // namespace
}  // namespace ostrel_server::rcon
