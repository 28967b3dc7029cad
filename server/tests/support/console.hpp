#pragma once
// A console context over a hub whose registry knows a few identities, and a loopback client
// that sends its whole input, half-closes and reads what the server wrote until it closed.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <asio/awaitable.hpp>
#include <asio/ip/tcp.hpp>

#include "console/rcon.hpp"
#include "hub/hub.hpp"
#include "identity/identity.hpp"

namespace ostrel_server::test {

inline constexpr const char* kConsoleToken = "correct-horse-battery";

struct Known {
  std::string name;
  ostrel_core::identity::PlayerUuid uuid;
};

// A hub whose registry holds identities rooted at the test keys of seeds 1, 2, 3..., named as
// given (registered clean: nothing pending), and a context with the token, `mods` and the hub.
struct ConsoleWorld {
  std::shared_ptr<transport::endpoint::Shared> hub;
  std::shared_ptr<rcon::RconContext> ctx;
  std::vector<Known> known;

  explicit ConsoleWorld(const std::vector<std::string>& names = {"alice", "bob", "carol"},
                        std::vector<ostrel_core::proto::ModEntry> mods = {});
  const ostrel_core::identity::PlayerUuid& uuid(const std::string& name) const;
};

// Connects to `at`, writes `input`, shuts its sending side and collects the server's bytes until
// the server closes (a reset counts as the close).
asio::awaitable<std::string> converse(asio::ip::tcp::endpoint at, std::string input);

}  // namespace ostrel_server::test
