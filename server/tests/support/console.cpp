#include "support/console.hpp"

#include <asio/connect.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>
#include <gtest/gtest.h>

#include "identity/keyset.hpp"
#include "support/ed25519.hpp"

namespace ostrel_server::test {

ConsoleWorld::ConsoleWorld(const std::vector<std::string>& names, std::vector<ostrel_core::proto::ModEntry> mods) {
  transport::endpoint::HubInit init;
  init.max_players = 16;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const auto key = ostrel_core::test::TestKey::from_seed(static_cast<std::uint8_t>(i + 1)).key();
    auto set = ostrel_core::identity::keyset::KeySet::create(key, std::nullopt, 1000);
    known.push_back({names[i], set.uuid()});
    init.identities.put_name_clean(names[i], set.uuid());
    init.identities.insert_clean(std::move(set));
  }
  hub = transport::endpoint::Shared::create(std::move(init));
  ctx = std::make_shared<rcon::RconContext>();
  ctx->token = kConsoleToken;
  ctx->mods = std::move(mods);
  ctx->hub = hub;
}

const ostrel_core::identity::PlayerUuid& ConsoleWorld::uuid(const std::string& name) const {
  for (const auto& k : known) {
    if (k.name == name) return k.uuid;
  }
  ADD_FAILURE() << "no test identity " << name;
  return known.front().uuid;
}

asio::awaitable<std::string> converse(asio::ip::tcp::endpoint at, std::string input) {
  constexpr auto tuple = asio::experimental::as_tuple(asio::use_awaitable);
  asio::ip::tcp::socket socket(co_await asio::this_coro::executor);
  auto [cec] = co_await socket.async_connect(at, tuple);
  if (cec) {
    ADD_FAILURE() << "connect: " << cec.message();
    co_return std::string();
  }
  // A server that closes early may refuse the rest of the input; what it wrote still counts.
  co_await asio::async_write(socket, asio::buffer(input), tuple);
  std::error_code ignored;
  socket.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
  std::string got;
  char buf[4096];
  for (;;) {
    auto [ec, n] = co_await socket.async_read_some(asio::buffer(buf), tuple);
    got.append(buf, n);
    if (ec) break;
  }
  co_return got;
}

}  // namespace ostrel_server::test
