// Loopback tests of the QUIC endpoint with the echo handler.

#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "support/quic_client.hpp"
#include "support/run.hpp"

namespace ostrel_server::transport {
namespace {

using test::QuicClient;
using test::run_sync;
using test::TestServer;

std::vector<std::uint8_t> pattern(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> v(n);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : v) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return v;
}

TEST(QuicEndpoint, HandshakesWithAlpnAndEchoes) {
  TestServer server;
  asio::io_context io;
  auto client = run_sync(io, QuicClient::connect(io.get_executor(), server.address(), server.cert().fingerprint));
  ASSERT_TRUE(client.has_value()) << client.error();
  EXPECT_EQ(client->connection().alpn(), "ostrel/1");
  for (std::size_t n : {1u, 1000u, 70000u}) {
    const auto msg = pattern(n, static_cast<std::uint32_t>(n));
    ASSERT_TRUE(run_sync(io, client->send(msg)).has_value());
    auto back = run_sync(io, client->receive());
    ASSERT_TRUE(back.has_value()) << back.error().message();
    EXPECT_EQ(*back, msg);
  }
}

TEST(QuicEndpoint, RefusesClientsWithoutOurAlpn) {
  struct Case { const char* name; std::vector<std::string> alpn; };
  const Case cases[] = {{"wrong", {"wrong/1"}}, {"none", {}}, {"near_miss", {"ostrel/2"}}};
  TestServer server;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    asio::io_context io;
    quic::ClientOptions options;
    options.alpn = c.alpn;
    auto client =
        run_sync(io, QuicClient::connect(io.get_executor(), server.address(), server.cert().fingerprint, options));
    // 0x178 is the TLS alert no_application_protocol as a QUIC transport error. A client that
    // offers no protocol at all finishes its side of the handshake before the server says no.
    if (client.has_value()) {
      auto info = run_sync(io, client->connection().closed());
      EXPECT_EQ(info.describe(), "closed by peer with transport error 0x178");
      EXPECT_TRUE(c.alpn.empty());
    } else {
      EXPECT_EQ(client.error(), "handshake failed: closed by peer with transport error 0x178");
    }
  }
}

TEST(QuicEndpoint, ClientWithTheWrongFingerprintStops) {
  TestServer server;
  asio::io_context io;
  auto other = server.cert().fingerprint;
  other[0] ^= 1;
  auto client = run_sync(io, QuicClient::connect(io.get_executor(), server.address(), other));
  ASSERT_FALSE(client.has_value());
  EXPECT_EQ(client.error(), "the server's fingerprint does not match");
}

}  // namespace
}  // namespace ostrel_server::transport
