// Many console sessions at once on a runtime of several threads: renames under the registry's
// lock, allowlist changes under its read-write lock and status reads interleave without a lost
// change or a torn reply.
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/use_future.hpp>
#include <gtest/gtest.h>

#include "console/rcon.hpp"
#include "support/console.hpp"
#include "support/hub_fixture.hpp"

namespace ostrel_server::rcon {
namespace {

TEST(ConsoleStress, SessionsOnManyThreads) {
  constexpr int kClients = 12;
  constexpr int kRounds = 40;  // even: every name ends where it began
  std::vector<std::string> names;
  for (int i = 0; i < kClients; ++i) names.push_back("p" + std::to_string(i));
  test::ConsoleWorld world(names);
  asio::io_context io;
  auto acceptor = bind_listener(io.get_executor(), config::SocketAddr::v4({127, 0, 0, 1}, 0));
  ASSERT_TRUE(acceptor);
  const auto at = acceptor->local_endpoint();
  asio::co_spawn(io, accept_loop(std::move(*acceptor), world.ctx, std::chrono::milliseconds(5)), asio::detached);

  std::vector<std::future<std::string>> replies;
  std::vector<std::string> expected;
  for (int c = 0; c < kClients; ++c) {
    std::string input = std::string("auth ") + test::kConsoleToken + "\n";
    std::string want = std::string(kGreeting) + std::string(kAuthenticated);
    const std::string id = test::player(static_cast<std::uint8_t>(c + 1)).to_hex();
    for (int r = 0; r < kRounds; ++r) {
      const std::string from = (r % 2 ? "q" : "p") + std::to_string(c);
      const std::string to = (r % 2 ? "p" : "q") + std::to_string(c);
      const std::string action = r % 2 ? "remove" : "add";
      input += "rename " + from + " " + to + "\nallowlist " + action + " " + id + "\nstatus\n";
      want += "ok: " + from + " is now " + to + "\n.\n";
      want += "ok: " + action + " " + id.substr(0, 12) + "\n.\n";
      want += "tick 0 | players 0/16 | dropped 0 | slowest tick 0us\n.\n";
    }
    if (c == 0) {  // the first client leaves its id on the list
      input += "allowlist add " + id + "\n";
      want += "ok: add " + id.substr(0, 12) + "\n.\n";
    }
    replies.push_back(asio::co_spawn(io, test::converse(at, std::move(input)), asio::use_future));
    expected.push_back(std::move(want));
  }
  std::vector<std::thread> runners;
  for (int i = 0; i < 3; ++i) runners.emplace_back([&io] { io.run(); });
  for (int c = 0; c < kClients; ++c) EXPECT_EQ(replies[c].get(), expected[c]) << "client " << c;
  world.hub->control()->request_stop();  // the accept loop ends and the runners run out of work
  for (auto& t : runners) t.join();

  auto registry = world.hub->identities().try_lock();
  ASSERT_TRUE(registry);
  for (int c = 0; c < kClients; ++c) EXPECT_EQ((*registry)->name_of(world.uuid(names[c])), names[c]);
  auto list = world.hub->allowlist().read();
  ASSERT_TRUE(list);
  EXPECT_EQ((*list)->permitted, (std::set<ostrel_core::identity::PlayerUuid>{test::player(1)}));
}

}  // namespace
}  // namespace ostrel_server::rcon
