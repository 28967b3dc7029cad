// Loopback tests of the QUIC endpoint with the echo handler.

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>

#include "base/log.hpp"
#include "support/hex.hpp"

#include "support/quic_client.hpp"
#include "support/run.hpp"
#include "transport/quic/core.hpp"

namespace ostrel_server::transport {
namespace {

using ostrel_core::clock::ManualClock;
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

// One echoed frame; false when it did not come back unchanged.
bool echoes(asio::io_context& io, QuicClient& client, std::span<const std::uint8_t> msg) {
  if (!run_sync(io, client.send(msg)).has_value()) return false;
  auto back = run_sync(io, client.receive());
  return back.has_value() && std::ranges::equal(*back, msg);
}

// As echoes(), for a server on a manual clock. The server's pacing and loss recovery wait for
// its own time, which stands still between the test's steps: while the answer is late, its
// clock moves on by 10 ms, at most 20 times, so that a packet it holds back goes out. An
// answer still missing after 30 s fails.
bool echoes_stepping(asio::io_context& io, TestServer& server, QuicClient& client, std::span<const std::uint8_t> msg) {
  if (!run_sync(io, client.send(msg)).has_value()) return false;
  std::optional<bool> back;
  asio::co_spawn(
      io,
      [&]() -> asio::awaitable<void> {
        auto r = co_await client.receive();
        back = r.has_value() && std::ranges::equal(*r, msg);
      },
      asio::detached);
  for (int waits = 0; !back; ++waits) {
    if (waits == 150) client.connection().close(0, "no echo");  // 30 s: the receive fails
    io.restart();
    io.run_for(200ms);
    if (!back && waits < 20) server.advance(10ms);
  }
  return *back;
}

// Logs in as far as the echo handler tells: the first frame is the Hello, the second enters the
// world.
bool enter_world(asio::io_context& io, QuicClient& client) {
  return echoes(io, client, pattern(10, 1)) && echoes(io, client, pattern(10, 2));
}

TEST(QuicEndpoint, SilentClientIsDroppedAfterIdleTimeout) {
  ManualClock clock;
  quic::Settings settings;  // idle timeout 30 s, keep-alive 10 s
  TestServer server(test::echo, settings, clock);
  asio::io_context quiet_io, live_io;
  auto quiet = run_sync(quiet_io, connect(quiet_io, server));
  auto live = run_sync(live_io, connect(live_io, server));
  ASSERT_TRUE(quiet.has_value() && live.has_value());
  ASSERT_TRUE(enter_world(quiet_io, *quiet) && enter_world(live_io, *live));
  // From here the quiet client's io_context no longer runs: it answers nothing, not even the
  // server's keep-alives. The live one is heard after every second of server time. The quiet
  // one lasts the idle timeout from its last packet, which the first keep-alive the server sends
  // may restart once (a first ack-eliciting packet after a receipt does): 30 to 40 s.
  for (int second = 1; second <= 41; ++second) {
    server.advance(1s);
    ASSERT_TRUE(echoes_stepping(live_io, server, *live, pattern(10, static_cast<std::uint32_t>(second)))) << second;
    if (second < 30) {
      EXPECT_EQ(server.connection_count(), 2u) << second;
    }
  }
  EXPECT_EQ(server.connection_count(), 1u);
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
  // The next datagram for the probe, waiting at most 5 s.
  auto answer = [&]() -> std::vector<std::uint8_t> {
    pollfd p{probe.native_handle(), POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return {};
    std::vector<std::uint8_t> buf(2048);
    asio::error_code ec;
    const std::size_t n = probe.receive(asio::buffer(buf), 0, ec);
    if (ec) return {};
    return {buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n)};
  };
  // Too small to be an Initial: no answer, so the server cannot be used to amplify. The server
  // handles one socket's datagrams in order, so the first answer is to the second probe.
  auto small = packet(100);
  small[6] = 0x99;  // another destination id, which the answer would echo
  probe.send_to(asio::buffer(small), server.address());
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
// It tells `got_first` when the first frame is in and waits for `go` before answering; it tells
// `flushing` as it starts the flush, and `took` how long the flush took on `clock`.
struct FlushProbe {
  const ostrel_core::clock::Clock* clock = &ostrel_core::clock::steady();
  std::promise<void> got_first;
  std::promise<void> go;
  std::promise<void> flushing;
  std::promise<std::chrono::milliseconds> took;
};

endpoint::Handler flush_after(std::size_t reply_bytes, FlushProbe* probe) {
  return [=](quic::Connection conn) -> asio::awaitable<std::expected<void, frame::FrameError>> {
    auto s = co_await endpoint::accept_stream(conn);
    if (!s) co_return std::unexpected(s.error());
    if (auto first = co_await frame::read_payload(*s); !first) co_return std::unexpected(first.error());
    endpoint::entered_world(conn);
    probe->got_first.set_value();
    probe->go.get_future().wait();  // blocks the server thread: nothing else runs meanwhile
    for (std::size_t sent = 0; sent < reply_bytes; sent += 65536) {
      if (auto w = co_await frame::write_encoded(*s, pattern(65536, static_cast<std::uint32_t>(sent))); !w) co_return w;
    }
    const auto start = probe->clock->now();
    probe->flushing.set_value();
    co_await endpoint::flush_and_close(*s, conn);
    probe->took.set_value(std::chrono::duration_cast<std::chrono::milliseconds>(probe->clock->now() - start));
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
  ManualClock clock;
  FlushProbe probe;
  probe.clock = &clock;
  auto got_first = probe.got_first.get_future();
  auto flushing = probe.flushing.get_future();
  auto took = probe.took.get_future();
  quic::Settings settings;
  TestServer server(flush_after(2 << 20, &probe), settings, clock);  // fits the send buffer
  asio::io_context io;
  auto client = run_sync(io, connect(io, server));
  ASSERT_TRUE(client.has_value()) << client.error();
  ASSERT_TRUE(run_sync(io, client->send(pattern(1, 0))).has_value());
  ASSERT_TRUE(eventually(io, [&] { return got_first.wait_for(0s) == std::future_status::ready; }));
  { auto gone = std::move(*client); }  // the client vanishes without a word: nothing is acknowledged
  probe.go.set_value();
  flushing.wait();
  server.connection_count();  // the handler has gone on to wait for the acknowledgements
  server.advance(1999ms);
  EXPECT_EQ(took.wait_for(0s), std::future_status::timeout);
  server.advance(1ms);
  EXPECT_EQ(took.get(), 2000ms);
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
  // Checks that exactly one line holds `part` and that it contains `expected`.
  void expect_one(std::string_view part, std::string_view expected) {
    const auto found = matching(part);
    ASSERT_EQ(found.size(), 1u) << part;
    EXPECT_NE(found[0].find(expected), std::string::npos) << found[0];
  }
};

// Sends every log line at DEBUG and above to `captured` while it lives.
class CaptureLogs {
 public:
  explicit CaptureLogs(Captured& captured) {
    namespace log = ostrel_core::log;
    log::Options options;
    options.filter = *log::Filter::parse("debug");
    options.colour = false;
    log::install(options);
    log::set_sink(&Captured::sink, &captured);
  }
  ~CaptureLogs() {
    namespace log = ostrel_core::log;
    log::set_sink(nullptr, nullptr);
    log::install(log::Options{});
  }
  CaptureLogs(const CaptureLogs&) = delete;
  CaptureLogs& operator=(const CaptureLogs&) = delete;
};

TEST(AcceptLoop, LogsHowEachConnectionEnded) {
  Captured captured;
  {
    CaptureLogs capture(captured);
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
    // Clients that close at the transport level (NO_ERROR), before opening their stream and in
    // the world: each one DEBUG "connection closed", as a clean end.
    auto early = run_sync(io, connect(io, server));
    ASSERT_TRUE(early.has_value());
    ASSERT_TRUE(eventually(io, [&] { return handled.load() == 2; }));
    early->connection().close_transport(0);
    auto late = run_sync(io, connect(io, server));
    ASSERT_TRUE(late.has_value());
    ASSERT_TRUE(enter_world(io, *late));
    late->connection().close_transport(0);
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
      return captured.matching("connection closed").size() == 3 && !captured.matching("handshake failed").empty();
    }))
        << testing::PrintToString(captured.matching(""));
  }
  captured.expect_one("listening for QUIC connections",
                      " INFO ostrel_server::transport::endpoint: listening for QUIC connections addr=127.0.0.1:");
  const auto closed = captured.matching("connection closed");
  ASSERT_EQ(closed.size(), 3u);
  for (const auto& line : closed) {
    EXPECT_NE(line.find("DEBUG ostrel_server::transport::endpoint: connection closed remote=127.0.0.1:"),
              std::string::npos);
  }
  captured.expect_one("connection failed",
                      " WARN ostrel_server::transport::endpoint: connection failed: peer declared an empty message remote=");
  captured.expect_one("handshake failed",
                      "DEBUG ostrel_server::transport::endpoint: handshake failed: closed with transport error 0x178");
}


// A login that stalls is closed by its deadline, counted from the end of the handshake on the
// server's clock, and each close is one DEBUG line. The client sees code 0 and the reason.
TEST(AcceptLoop, ClosesLoginsThatMissTheirDeadline) {
  Captured captured;
  CaptureLogs capture(captured);
  ManualClock clock;
  quic::Settings settings;
  TestServer server(test::echo, settings, clock);
  asio::io_context io;
  auto silent = run_sync(io, connect(io, server));   // never sends a frame
  auto stalled = run_sync(io, connect(io, server));  // sends its Hello, never joins
  auto playing = run_sync(io, connect(io, server));  // joins the world
  ASSERT_TRUE(silent.has_value() && stalled.has_value() && playing.has_value());
  ASSERT_TRUE(eventually(io, [&] { return server.stats().half_open == 0; }));  // all three handshakes done
  ASSERT_TRUE(echoes(io, *stalled, pattern(10, 1)));
  ASSERT_TRUE(enter_world(io, *playing));
  const std::vector<std::uint8_t> hold(test::kHoldFrame.begin(), test::kHoldFrame.end());

  // Steps of 2 s: the stalled and the playing clients are heard after each (the stalled one
  // without moving its login on), so only the deadlines can close them.
  auto step_to = [&](std::chrono::milliseconds at, std::chrono::milliseconds& now) {
    while (now < at) {
      server.advance(2s);
      now += 2s;
      for (auto* c : {&stalled, &playing}) {
        if (!(*c)->connection().close_info()) echoes_stepping(io, server, **c, hold);
      }
    }
  };
  std::chrono::milliseconds now{0};
  step_to(4s, now);
  EXPECT_EQ(server.connection_count(), 3u);
  step_to(6s, now);  // past the 5 s for the Hello
  auto info = run_sync(io, silent->connection().closed());
  EXPECT_EQ(info.describe(), "closed by peer with code 0: no Hello in time");
  step_to(118s, now);
  EXPECT_EQ(server.connection_count(), 2u);
  step_to(122s, now);  // past the 120 s for the world
  info = run_sync(io, stalled->connection().closed());
  EXPECT_EQ(info.describe(), "closed by peer with code 0: login took too long");
  step_to(200s, now);
  EXPECT_EQ(server.connection_count(), 1u);  // the player in the world has no deadline
  EXPECT_TRUE(echoes(io, *playing, pattern(100, 3)));

  ASSERT_TRUE(eventually(io, [&] { return captured.matching("connection closed: ").size() == 2; }));
  captured.expect_one("connection closed: no Hello in time",
                      "DEBUG ostrel_server::transport::endpoint: connection closed: no Hello in time remote=127.0.0.1:");
  captured.expect_one("connection closed: login took too long",
                      "DEBUG ostrel_server::transport::endpoint: connection closed: login took too long remote=");
  EXPECT_TRUE(captured.matching("WARN").empty()) << testing::PrintToString(captured.matching("WARN"));
}

// The admission of new connections: the caps refuse, Retry proves an address, a forged token
// is refused, and none of it costs a connection that gets in.
TEST(QuicAdmission, CapsRefuseWithConnectionRefused) {
  struct Case { const char* name; quic::Limits limits; };
  quic::Limits per_address;
  per_address.per_address = 2;
  quic::Limits in_all;
  in_all.connections = 2;
  const Case cases[] = {{"per_address", per_address}, {"in_all", in_all}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    quic::Settings settings;
    settings.limits = c.limits;
    TestServer server(test::echo, settings);
    asio::io_context io;
    auto first = run_sync(io, connect(io, server));
    auto second = run_sync(io, connect(io, server));
    ASSERT_TRUE(first.has_value() && second.has_value());
    auto third = run_sync(io, connect(io, server));
    ASSERT_FALSE(third.has_value());
    EXPECT_EQ(third.error(), "handshake failed: closed by peer with transport error 0x2");  // CONNECTION_REFUSED
    EXPECT_EQ(server.stats().refused, 1u);
    EXPECT_EQ(server.connection_count(), 2u);
    first->connection().close(0, "done");
    run_sync(io, first->connection().closed());
    ASSERT_TRUE(eventually(io, [&] { return server.connection_count() == 1; }));
    auto again = run_sync(io, connect(io, server));  // a freed place is taken again
    ASSERT_TRUE(again.has_value()) << again.error();
    EXPECT_TRUE(enter_world(io, *again));
  }
}

TEST(QuicAdmission, RetryProvesTheAddressUnderHandshakeLoad) {
  struct Case { const char* name; std::size_t retry_above; std::size_t unproven; int silent; };
  const Case cases[] = {
      {"retry_for_all", 0, 4, 0},      // every handshake is under load
      {"in_all", 2, 4, 2},             // two half-open connections are load
      {"one_address", 64, 2, 2},       // this address has two unproven half-open ones
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    quic::Settings settings;
    settings.limits.retry_above = c.retry_above;
    settings.limits.unproven_per_address = c.unproven;
    TestServer server(test::echo, settings);
    // Half-open connections: Initials from a client whose io_context never runs.
    asio::io_context silent_io, io;
    auto silent = quic::Endpoint::client(silent_io.get_executor(), server.address());
    ASSERT_TRUE(silent.has_value());
    for (int i = 0; i < c.silent; ++i) ASSERT_TRUE(silent->connect(server.address()).has_value());
    ASSERT_TRUE(eventually(io, [&] { return server.stats().half_open == static_cast<std::size_t>(c.silent); }));
    auto client = run_sync(io, connect(io, server));
    ASSERT_TRUE(client.has_value()) << client.error();
    EXPECT_TRUE(enter_world(io, *client));
    EXPECT_GE(server.stats().retries, 1u);
    EXPECT_EQ(server.stats().connections, static_cast<std::size_t>(c.silent) + 1);
  }
}

// A version-1 Initial of 1200 bytes whose token claims to be a Retry token but is not ours.
std::vector<std::uint8_t> initial_with_token(std::span<const std::uint8_t> token) {
  std::vector<std::uint8_t> p = {0xc3, 0, 0, 0, 1, 8, 1, 2, 3, 4, 5, 6, 7, 8, 8, 9, 9, 9, 9, 9, 9, 9, 9};
  p.push_back(static_cast<std::uint8_t>(token.size()));
  p.insert(p.end(), token.begin(), token.end());
  const std::size_t rest = 1200 - p.size() - 2;
  p.push_back(static_cast<std::uint8_t>(0x40 | (rest >> 8)));
  p.push_back(static_cast<std::uint8_t>(rest));
  p.resize(1200, 0x5a);
  return p;
}

TEST(QuicAdmission, ForgedRetryTokensAreRefused) {
  TestServer server;
  asio::io_context io;
  asio::ip::udp::socket probe(io, asio::ip::udp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  std::vector<std::uint8_t> token(60, 0x33);
  token[0] = 0xb6;  // the magic byte of a Retry token
  probe.send_to(asio::buffer(initial_with_token(token)), server.address());
  pollfd p{probe.native_handle(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);  // the refusal
  const auto stats = server.stats();
  EXPECT_EQ(stats.refused, 1u);
  EXPECT_EQ(stats.connections, 0u);
  EXPECT_EQ(stats.retries, 0u);
}

TEST(QuicAdmission, CountsIpv4ByAddressAndIpv6ByPrefix) {
  auto key_of = [](const char* text) {
    const auto addr = asio::ip::udp::endpoint(asio::ip::make_address(text), 4433);
    const auto key = quic::detail::address_key(addr.data());
    return ostrel_core::test::to_hex({key.begin(), key.end()});
  };
  EXPECT_EQ(key_of("192.0.2.7"), "00 00 00 00 00 00 00 00 00 00 ff ff c0 00 02 07");
  EXPECT_EQ(key_of("::ffff:192.0.2.7"), key_of("192.0.2.7"));  // one client through a dual-stack socket
  EXPECT_EQ(key_of("2001:db8:1:2:aaaa::1"), "20 01 0d b8 00 01 00 02 00 00 00 00 00 00 00 00");
  EXPECT_EQ(key_of("2001:db8:1:2:bbbb::9"), key_of("2001:db8:1:2:aaaa::1"));
  EXPECT_NE(key_of("2001:db8:1:3::1"), key_of("2001:db8:1:2::1"));
}

}  // namespace
}  // namespace ostrel_server::transport
