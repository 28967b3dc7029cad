// Loopback tests of the QUIC endpoint with the echo handler.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

#include "base/log.hpp"
#include "support/hex.hpp"

#include "support/quic_client.hpp"
#include "support/run.hpp"
#include "transport/quic/core.hpp"

namespace ostrel_server::transport {
namespace {

using test::eventually;
using test::QuicClient;
using test::run_sync;
using test::TestServer;
using ostrel_core::test::from_hex;
using namespace std::chrono_literals;

asio::awaitable<std::expected<QuicClient, std::string>> connect(asio::io_context& io, const TestServer& server,
                                                                quic::ClientOptions options = {}) {
  co_return co_await QuicClient::connect(io.get_executor(), server.address(), server.cert().fingerprint, options);
}

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

TEST(QuicEndpoint, RefusesASecondStream) {
  TestServer server;
  asio::io_context io;
  auto client = run_sync(io, connect(io, server));
  ASSERT_TRUE(client.has_value()) << client.error();
  auto second = client->connection().open_stream();
  ASSERT_FALSE(second.has_value());
  EXPECT_EQ(second.error().message(), "closed with transport error 0x0: stream refused: ERR_STREAM_ID_BLOCKED");
  const auto msg = pattern(100, 1);  // the first stream still works
  ASSERT_TRUE(run_sync(io, client->send(msg)).has_value());
  auto back = run_sync(io, client->receive());
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, msg);
}

TEST(QuicEndpoint, ClosesOnBadFrameHeaders) {
  struct Case { const char* name; const char* header; const char* reason; };
  const Case cases[] = {
      {"over_limit", "00 10 00 01", "peer declared a 1048577-byte message, over the 1048576-byte limit"},
      {"empty", "00 00 00 00", "peer declared an empty message"},
  };
  TestServer server;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    asio::io_context io;
    auto client = run_sync(io, connect(io, server));
    ASSERT_TRUE(client.has_value()) << client.error();
    ASSERT_TRUE(run_sync(io, client->send_raw(from_hex(c.header))).has_value());
    auto info = run_sync(io, client->connection().closed());
    EXPECT_EQ(info.kind, quic::CloseInfo::Kind::Application);
    EXPECT_TRUE(info.by_peer);
    EXPECT_EQ(info.code, test::kEchoRefusal);
    EXPECT_EQ(info.reason, c.reason);
  }
}

TEST(QuicEndpoint, EchoesAFrameAtTheLimit) {
  TestServer server;
  asio::io_context io;
  auto client = run_sync(io, connect(io, server));
  ASSERT_TRUE(client.has_value()) << client.error();
  const auto msg = pattern(frame::kMaxPayloadBytes, 9);
  ASSERT_TRUE(run_sync(io, client->send(msg)).has_value());
  auto back = run_sync(io, client->receive());
  ASSERT_TRUE(back.has_value()) << back.error().message();
  EXPECT_EQ(*back, msg);
}

TEST(QuicEndpoint, SilentClientIsDroppedAfterIdleTimeout) {
  quic::Settings settings;
  settings.idle_timeout = 600ms;
  settings.keep_alive = 200ms;
  TestServer server(test::echo, settings);
  asio::io_context quiet_io, live_io;
  auto quiet = run_sync(quiet_io, connect(quiet_io, server));
  auto live = run_sync(live_io, connect(live_io, server));
  ASSERT_TRUE(quiet.has_value() && live.has_value());
  // The quiet client's io_context no longer runs: it answers nothing, not even keep-alives.
  ASSERT_TRUE(eventually(live_io, [&] { return server.connection_count() == 1; }, 5s));
  // The live one answered the server's keep-alives for the whole time and still echoes.
  const auto msg = pattern(10, 2);
  ASSERT_TRUE(run_sync(live_io, live->send(msg)).has_value());
  auto back = run_sync(live_io, live->receive());
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, msg);
}

TEST(QuicEndpoint, EndpointCloseReachesEveryClient) {
  TestServer server;
  asio::io_context io;
  std::vector<QuicClient> clients;
  for (int i = 0; i < 5; ++i) {
    auto c = run_sync(io, connect(io, server));
    ASSERT_TRUE(c.has_value()) << c.error();
    // One echo each: the server has finished its side of the handshake, so its close is the
    // application close with code and reason rather than the bare pre-handshake one.
    const auto msg = pattern(10, static_cast<std::uint32_t>(i));
    ASSERT_TRUE(run_sync(io, c->send(msg)).has_value());
    auto back = run_sync(io, c->receive());
    ASSERT_TRUE(back.has_value()) << back.error().message();
    clients.push_back(std::move(*c));
  }
  auto stopped = std::async(std::launch::async, [&] { server.stop(); });
  for (auto& c : clients) {
    auto info = run_sync(io, c.connection().closed());
    EXPECT_EQ(info.describe(), "closed by peer with code 0: server shutting down");
  }
  stopped.get();  // the accept loop returned: every connection is gone
  EXPECT_EQ(server.connection_count(), 0u);
  EXPECT_EQ(server.routed_id_count(), 0u);
}

TEST(QuicEndpoint, StopFlagRefusesTheNextClientAndEndsTheLoop) {
  TestServer server;
  server.stop_flag().store(true, std::memory_order_release);
  asio::io_context io;
  auto client = run_sync(io, connect(io, server));
  // Closed as soon as the server sees it: before the handshake completes that is a
  // transport-level application error without reason; a client that already finished its
  // side sees the shutdown close.
  if (client.has_value()) {
    auto info = run_sync(io, client->connection().closed());
    EXPECT_TRUE(info.by_peer);
  } else {
    EXPECT_EQ(client.error(), "handshake failed: closed by peer with transport error 0xc");
  }
  EXPECT_TRUE(server.loop_ended(5s));  // without anyone closing the endpoint
  server.stop();
  EXPECT_EQ(server.connection_count(), 0u);
}

TEST(QuicEndpoint, AnswersUnknownVersionsWithVersionNegotiation) {
  TestServer server;
  asio::io_context io;
  asio::ip::udp::socket probe(io, asio::ip::udp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  probe.non_blocking(true);
  // Long header, version 0x1a2a3a4a, dcid 01..08, scid 11..18, padded to `size`.
  auto packet = [](std::size_t size) {
    std::vector<std::uint8_t> p = {0xc0, 0x1a, 0x2a, 0x3a, 0x4a, 8, 1, 2, 3, 4, 5, 6, 7, 8, 8};
    for (std::uint8_t i = 0x11; i <= 0x18; ++i) p.push_back(i);
    p.resize(size, 0);
    return p;
  };
  auto answer = [&]() -> std::vector<std::uint8_t> {
    std::vector<std::uint8_t> buf(2048);
    for (int i = 0; i < 50; ++i) {
      asio::error_code ec;
      const std::size_t n = probe.receive(asio::buffer(buf), 0, ec);
      if (!ec) return {buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n)};
      std::this_thread::sleep_for(10ms);
    }
    return {};
  };
  // Too small to be an Initial: no answer, so the server cannot be used to amplify.
  probe.send_to(asio::buffer(packet(100)), server.address());
  EXPECT_TRUE(answer().empty());
  probe.send_to(asio::buffer(packet(1200)), server.address());
  const auto vn = answer();
  ASSERT_GE(vn.size(), 23u + 4u);
  EXPECT_EQ(vn[0] & 0x80, 0x80);
  // Version 0, then the connection ids swapped, then the versions the server speaks.
  EXPECT_EQ(ostrel_core::test::to_hex({vn.begin() + 1, vn.begin() + 23}),
            "00 00 00 00 08 11 12 13 14 15 16 17 18 08 01 02 03 04 05 06 07 08");
  bool speaks_v1 = false;
  for (std::size_t i = 23; i + 4 <= vn.size(); i += 4) {
    speaks_v1 |= vn[i] == 0 && vn[i + 1] == 0 && vn[i + 2] == 0 && vn[i + 3] == 1;
  }
  EXPECT_TRUE(speaks_v1);
  EXPECT_EQ(server.connection_count(), 0u);
}

TEST(QuicEndpoint, BindingAnAddressInUseFails) {
  asio::io_context io;
  asio::ip::udp::socket taken(io, asio::ip::udp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  const auto addr = taken.local_endpoint();
  auto ep = endpoint::bind(io.get_executor(), addr, test::test_cert());
  ASSERT_FALSE(ep.has_value());
  EXPECT_EQ(ep.error().kind(), quic::EndpointErrorKind::Bind);
  EXPECT_EQ(ostrel_core::report(ep.error()), "could not bind 127.0.0.1:" + std::to_string(addr.port()) +
                                                 "\n  caused by: Address already in use (os error 98)");
}

// Packet-sized appends and reads of several sizes come out in order, byte for byte, whether the
// buffer is drained, moved down or given back in between.
TEST(QuicRecvBuffer, ReturnsBytesInOrderAcrossAppendsAndReads) {
  struct Case { const char* name; std::size_t read; };
  const Case cases[] = {{"tiny_reads", 4}, {"reads_between_packets", 2000}, {"packet_reads", 1400},
                        {"draining_reads", 300 * 1024}};
  const auto in = pattern(600 * 1024, 3);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    quic::detail::RecvBuffer rx;
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> buf(c.read);
    std::size_t fed = 0;
    while (out.size() < in.size()) {
      // Two 1400-byte packets in, one read out.
      for (int k = 0; k < 2 && fed < in.size(); ++k) {
        const std::size_t n = std::min<std::size_t>(1400, in.size() - fed);
        rx.append({in.data() + fed, n});
        fed += n;
      }
      ASSERT_FALSE(rx.empty());
      const std::size_t n = rx.take(buf);
      ASSERT_GT(n, 0u);
      out.insert(out.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
    }
    EXPECT_TRUE(rx.empty());
    EXPECT_EQ(out, in);
  }
}

// A handler that answers the first frame with `reply_bytes` of frames, then flushes and closes.
// It tells `got_first` when the first frame is in and waits for `go` before answering.
struct FlushProbe {
  std::promise<void> got_first;
  std::promise<void> go;
  std::promise<std::chrono::milliseconds> took;
};

endpoint::Handler flush_after(std::size_t reply_bytes, FlushProbe* probe) {
  return [=](quic::Connection conn) -> asio::awaitable<std::expected<void, frame::FrameError>> {
    auto s = co_await endpoint::accept_stream(conn);
    if (!s) co_return std::unexpected(s.error());
    if (auto first = co_await frame::read_payload(*s); !first) co_return std::unexpected(first.error());
    probe->got_first.set_value();
    probe->go.get_future().wait();  // blocks the server thread: nothing else runs meanwhile
    for (std::size_t sent = 0; sent < reply_bytes; sent += 65536) {
      if (auto w = co_await frame::write_encoded(*s, pattern(65536, static_cast<std::uint32_t>(sent))); !w) co_return w;
    }
    const auto start = std::chrono::steady_clock::now();
    co_await endpoint::flush_and_close(*s, conn);
    probe->took.set_value(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start));
    co_return std::expected<void, frame::FrameError>{};
  };
}

TEST(FlushAndClose, DeliversEverythingThenCloses) {
  FlushProbe probe;
  probe.go.set_value();
  TestServer server(flush_after(4 << 20, &probe));
  asio::io_context io;
  auto client = run_sync(io, connect(io, server));
  ASSERT_TRUE(client.has_value()) << client.error();
  ASSERT_TRUE(run_sync(io, client->send(pattern(1, 0))).has_value());
  for (std::size_t got = 0; got < (4u << 20); got += 65536) {
    auto f = run_sync(io, client->receive());
    ASSERT_TRUE(f.has_value()) << f.error().message();
    ASSERT_EQ(*f, pattern(65536, static_cast<std::uint32_t>(got)));
  }
  auto end = run_sync(io, client->receive());
  ASSERT_FALSE(end.has_value());
  EXPECT_TRUE(end.error().is_early_eof());  // the stream was finished, not cut
  auto info = run_sync(io, client->connection().closed());
  EXPECT_EQ(info.describe(), "closed by peer with code 0: disconnected");
  EXPECT_LT(probe.took.get_future().get(), 2000ms);
}

TEST(FlushAndClose, GivesUpOnASilentPeerAfterTwoSeconds) {
  FlushProbe probe;
  auto got_first = probe.got_first.get_future();
  auto took = probe.took.get_future();
  TestServer server(flush_after(2 << 20, &probe));  // fits the send buffer
  asio::io_context io;
  auto client = run_sync(io, connect(io, server));
  ASSERT_TRUE(client.has_value()) << client.error();
  ASSERT_TRUE(run_sync(io, client->send(pattern(1, 0))).has_value());
  ASSERT_TRUE(eventually(io, [&] { return got_first.wait_for(0s) == std::future_status::ready; }));
  { auto gone = std::move(*client); }  // the client vanishes without a word: nothing is acknowledged
  probe.go.set_value();
  const auto waited = took.get();
  EXPECT_GE(waited, 1900ms);
  EXPECT_LT(waited, 4000ms);
}

// Log lines of the accept loop, captured from the server thread.
struct Captured {
  std::mutex mu;
  std::vector<std::string> lines;
  static void sink(std::string_view line, void* self) {
    auto* c = static_cast<Captured*>(self);
    std::lock_guard lock(c->mu);
    c->lines.emplace_back(line);
  }
  std::vector<std::string> matching(std::string_view part) {
    std::lock_guard lock(mu);
    std::vector<std::string> out;
    for (const auto& l : lines) {
      if (l.find(part) != std::string::npos) out.push_back(l);
    }
    return out;
  }
};

TEST(AcceptLoop, LogsHowEachConnectionEnded) {
  namespace log = ostrel_core::log;
  Captured captured;
  log::Options options;
  options.filter = *log::Filter::parse("debug");
  options.colour = false;
  log::install(options);
  log::set_sink(&Captured::sink, &captured);
  {
    // The echo handler, counting the connections whose handshake the server finished.
    std::atomic<int> handled = 0;
    TestServer server([&handled](quic::Connection conn) {
      ++handled;
      return test::echo(std::move(conn));
    });
    asio::io_context io;
    // A client that never opens its stream and closes: one DEBUG "connection closed".
    auto quiet = run_sync(io, connect(io, server));
    ASSERT_TRUE(quiet.has_value());
    // Its last handshake flight has reached the server: closing now is not a failed handshake.
    ASSERT_TRUE(eventually(io, [&] { return handled.load() == 1; }));
    quiet->connection().close(0, "bye");
    // A client that sends an empty frame: WARN with the frame error's text.
    auto bad = run_sync(io, connect(io, server));
    ASSERT_TRUE(bad.has_value());
    ASSERT_TRUE(run_sync(io, bad->send_raw(from_hex("00 00 00 00"))).has_value());
    run_sync(io, bad->connection().closed());
    // A client with the wrong protocol: DEBUG "handshake failed".
    quic::ClientOptions wrong;
    wrong.alpn = {"wrong/1"};
    ASSERT_FALSE(run_sync(io, connect(io, server, wrong)).has_value());
    ASSERT_TRUE(eventually(io, [&] {
      return !captured.matching("connection closed").empty() && !captured.matching("handshake failed").empty();
    }))
        << testing::PrintToString(captured.matching(""));
  }
  log::set_sink(nullptr, nullptr);
  log::install(log::Options{});
  const auto listening = captured.matching("listening for QUIC connections");
  ASSERT_EQ(listening.size(), 1u);
  EXPECT_NE(listening[0].find(" INFO ostrel_server::transport::endpoint: listening for QUIC connections addr=127.0.0.1:"),
            std::string::npos);
  const auto closed = captured.matching("connection closed");
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_NE(closed[0].find("DEBUG ostrel_server::transport::endpoint: connection closed remote=127.0.0.1:"),
            std::string::npos);
  const auto failed = captured.matching("connection failed");
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_NE(failed[0].find(" WARN ostrel_server::transport::endpoint: connection failed: peer declared an empty message remote="),
            std::string::npos);
  const auto handshake = captured.matching("handshake failed");
  ASSERT_EQ(handshake.size(), 1u);
  EXPECT_NE(handshake[0].find("DEBUG ostrel_server::transport::endpoint: handshake failed: closed with transport error 0x178"),
            std::string::npos);
}

}  // namespace
}  // namespace ostrel_server::transport
