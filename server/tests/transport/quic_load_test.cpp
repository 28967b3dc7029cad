// The QUIC endpoint under load and under garbage.

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>

#include <gtest/gtest.h>
#include <malloc.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>

#include "support/heap.hpp"
#include "support/quic_client.hpp"
#include "support/run.hpp"

namespace ostrel_server::transport {
namespace {

using namespace std::chrono_literals;
using ostrel_core::clock::ManualClock;
using test::heap_in_use;
using test::QuicClient;
using test::run_sync;
using test::TestServer;
constexpr std::string_view kDone = "done";

std::vector<std::uint8_t> random_bytes(std::mt19937& rng, std::size_t n) {
  std::vector<std::uint8_t> v(n);
  for (auto& b : v) b = static_cast<std::uint8_t>(rng());
  return v;
}

// Waits (letting the client io_context run) until the server has `want` connections left.
bool server_drains(asio::io_context& io, TestServer& server, std::size_t want, std::chrono::seconds limit) {
  return test::eventually(
      io, [&] { return server.connection_count() == want && server.routed_id_count() <= 8 * want; }, limit);
}

struct LoadResult {
  std::atomic<int> ok = 0;
  std::atomic<int> done = 0;
  std::mutex mu;
  std::string first_error;  // guarded by mu
  void fail(const std::string& why) {
    std::lock_guard lock(mu);
    if (first_error.empty()) first_error = why;
  }
};

std::vector<std::vector<std::uint8_t>> four_frames(std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::vector<std::uint8_t>> frames;
  for (int i = 0; i < 4; ++i) frames.push_back(random_bytes(rng, 256 * 1024));
  return frames;
}

// Sends the frames, reads them back and checks every byte; empty when all came back.
asio::awaitable<std::string> echo_frames(QuicClient& client, const std::vector<std::vector<std::uint8_t>>& frames) {
  for (const auto& f : frames) {
    auto w = co_await client.send(f);
    if (!w) co_return w.error().message();
  }
  for (const auto& f : frames) {
    auto back = co_await client.receive();
    if (!back) co_return back.error().message();
    if (*back != f) co_return std::string("echoed bytes differ");
  }
  co_return std::string();
}

// One client: connects, sends a small first frame (its Hello, as a client's is), then 1 MiB in
// four frames, reads them back and checks every byte.
asio::awaitable<void> echo_one_mib(asio::io_context& io, const TestServer& server, std::uint32_t seed,
                                   LoadResult* result) {
  auto frames = four_frames(seed);
  frames.insert(frames.begin(), std::vector<std::uint8_t>(16, static_cast<std::uint8_t>(seed)));
  // 200 handshakes at once queue behind each other's bulk data on one server thread: on a loaded
  // machine that takes longer than a client's usual 10 s.
  quic::ClientOptions patient;
  patient.settings.handshake_timeout = 60s;
  auto client =
      co_await QuicClient::connect(io.get_executor(), server.address(), server.cert().fingerprint, patient);
  if (client) {
    const std::string error = co_await echo_frames(*client, frames);
    if (error.empty()) {
      ++result->ok;
    } else {
      result->fail(error);
    }
    client->connection().close(0, kDone);
    co_await client->connection().closed();
  } else {
    result->fail(client.error());
  }
  if (++result->done == 200) io.stop();
}

TEST(QuicLoad, TwoHundredClientsEachEchoOneMebibyte) {
  quic::Settings settings;
  settings.limits.per_address = 256;  // every client is on 127.0.0.1
  // The server waits for the queued handshakes as the clients do, and a Retry token stays good
  // as long: a client answering its Retry late is slow, not forging.
  settings.handshake_timeout = 60s;
  settings.limits.retry_token_lifetime = 60s;
  TestServer server(test::echo, settings);
  asio::io_context io;
  LoadResult result;
  for (std::uint32_t i = 0; i < 200; ++i) asio::co_spawn(io, echo_one_mib(io, server, i, &result), asio::detached);
  io.run();
  EXPECT_EQ(result.ok.load(), 200) << result.first_error;
  io.restart();
  // A client's close lost under this load leaves its connection to the 30 s idle timeout.
  EXPECT_TRUE(server_drains(io, server, 0, 45s));
  EXPECT_EQ(server.connection_count(), 0u);
  EXPECT_EQ(server.routed_id_count(), 0u);
}

// Forwards datagrams between one client and the server, keeping a copy of the client's.
class Relay {
 public:
  explicit Relay(const asio::ip::udp::endpoint& server) : server_(server) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    address_ = asio::ip::udp::endpoint(asio::ip::make_address("127.0.0.1"), ntohs(a.sin_port));
    thread_ = std::thread([this] { run(); });
  }
  ~Relay() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }
  asio::ip::udp::endpoint address() const { return address_; }
  std::vector<std::vector<std::uint8_t>> captured() {
    std::lock_guard lock(mu_);
    return captured_;
  }

 private:
  void run() {
    std::vector<std::uint8_t> buf(65536);
    sockaddr_storage client{};
    socklen_t client_len = 0;
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      sockaddr_storage from{};
      socklen_t from_len = sizeof from;
      const ssize_t n = ::recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &from_len);
      if (n <= 0) continue;
      const auto* in = reinterpret_cast<const sockaddr_in*>(&from);
      if (ntohs(in->sin_port) == server_.port()) {
        if (client_len != 0) ::sendto(fd_, buf.data(), n, 0, reinterpret_cast<sockaddr*>(&client), client_len);
        continue;
      }
      client = from;
      client_len = from_len;
      {
        std::lock_guard lock(mu_);
        captured_.emplace_back(buf.begin(), buf.begin() + n);
      }
      ::sendto(fd_, buf.data(), n, 0, server_.data(), static_cast<socklen_t>(server_.size()));
    }
  }

  asio::ip::udp::endpoint server_;
  asio::ip::udp::endpoint address_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mu_;
  std::vector<std::vector<std::uint8_t>> captured_;
};

// A datagram that passes the server's first checks: a version-1 Initial of 1200 bytes with
// random connection ids and a random (undecryptable) payload.
std::vector<std::uint8_t> fake_initial(std::mt19937& rng) {
  std::vector<std::uint8_t> p = {0xc3, 0, 0, 0, 1, 8};
  for (int i = 0; i < 8; ++i) p.push_back(static_cast<std::uint8_t>(rng()));
  p.push_back(8);
  for (int i = 0; i < 8; ++i) p.push_back(static_cast<std::uint8_t>(rng()));
  p.push_back(0);  // no token
  const std::size_t rest = 1200 - p.size() - 2;
  p.push_back(static_cast<std::uint8_t>(0x40 | (rest >> 8)));
  p.push_back(static_cast<std::uint8_t>(rest));
  auto tail = random_bytes(rng, rest);
  p.insert(p.end(), tail.begin(), tail.end());
  return p;
}

TEST(QuicRobustness, GarbageDatagramsLeaveAConnectedClientAlone) {
  TestServer server;
  Relay relay(server.address());
  asio::io_context io;
  auto client = run_sync(io, QuicClient::connect(io.get_executor(), relay.address(), server.cert().fingerprint));
  ASSERT_TRUE(client.has_value()) << client.error();
  const std::vector<std::uint8_t> hello(3000, 7);
  ASSERT_TRUE(run_sync(io, client->send(hello)).has_value());
  ASSERT_TRUE(run_sync(io, client->receive()).has_value());
  const auto real = relay.captured();  // Initial, Handshake and 1-RTT packets of a live client
  ASSERT_GE(real.size(), 3u);

  std::mt19937 rng(12345);
  asio::ip::udp::socket junk(io, asio::ip::udp::endpoint(asio::ip::udp::v4(), 0));
  std::size_t sent = 0;
  for (int i = 0; i < 100'000; ++i) {
    std::vector<std::uint8_t> d;
    switch (i % 5) {
      case 0: d = random_bytes(rng, 1 + rng() % 1500); break;
      case 1: d = fake_initial(rng); break;
      case 2: {  // a real packet cut short
        const auto& r = real[rng() % real.size()];
        d.assign(r.begin(), r.begin() + static_cast<std::ptrdiff_t>(rng() % r.size()));
        break;
      }
      default: {  // a real packet with a few bytes changed
        d = real[rng() % real.size()];
        for (int k = 0, flips = 1 + static_cast<int>(rng() % 3); k < flips; ++k) {
          d[rng() % d.size()] ^= static_cast<std::uint8_t>(1 + rng() % 255);
        }
      }
    }
    asio::error_code ec;
    junk.send_to(asio::buffer(d), server.address(), 0, ec);
    if (!ec) ++sent;
    if (i % 500 == 0) std::this_thread::sleep_for(1ms);  // let the server keep up
  }
  EXPECT_EQ(sent, 100'000u);
  // The live client still echoes, byte for byte, and is the only connection left.
  for (int round = 0; round < 3; ++round) {
    const auto msg = random_bytes(rng, 100'000);
    ASSERT_TRUE(run_sync(io, client->send(msg)).has_value());
    auto back = run_sync(io, client->receive());
    ASSERT_TRUE(back.has_value()) << back.error().message();
    EXPECT_EQ(*back, msg);
  }
  EXPECT_TRUE(server_drains(io, server, 1, 20s));
  EXPECT_EQ(server.connection_count(), 1u);
}

// Every thread allocates from one arena (set before any thread starts), so that mallinfo2(),
// which reports the main arena only, sees the server thread's heap too.
[[maybe_unused]] const int kOneArena = mallopt(M_ARENA_MAX, 1);

// Until every connection's handshake has ended, one way or the other; how many succeeded.
asio::awaitable<int> handshakes_ended(std::vector<quic::Connection>& conns) {
  int opened = 0;
  for (auto& c : conns) opened += (co_await c.handshake()).has_value() ? 1 : 0;
  co_return opened;
}

// A client of its own on 127.0.0.1 logs in (Hello, then JoinWorld) and echoes; how long it took.
std::expected<std::chrono::milliseconds, std::string> log_in(asio::io_context& io, const TestServer& server,
                                                             std::optional<QuicClient>& out) {
  const auto start = std::chrono::steady_clock::now();
  auto client = run_sync(io, QuicClient::connect(io.get_executor(), server.address(), server.cert().fingerprint));
  if (!client) return std::unexpected(client.error());
  for (std::uint8_t i = 0; i < 2; ++i) {
    const std::vector<std::uint8_t> frame(16, i);
    if (!run_sync(io, client->send(frame))) return std::unexpected("send failed");
    auto back = run_sync(io, client->receive());
    if (!back || *back != frame) return std::unexpected("echo failed");
  }
  out.emplace(std::move(*client));
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

constexpr int kFlood = 5000;
constexpr int kFloodBatch = 100;

// One UDP socket (127.0.0.2) opens 5,000 connections and completes every handshake the server
// lets it; then it idles. The server keeps kMaxPerAddress of them, refuses the rest, lets
// another client log in as usual, and drops the flood at the Hello deadline.
TEST(QuicFlood, HandshakesFromOneSocketLockNobodyOut) {
  ManualClock clock;
  quic::Settings settings;
  TestServer server(test::echo, settings, clock);
  asio::io_context io;
  const std::size_t heap_before = heap_in_use();
  {
    asio::io_context flood_io;
    auto flood = quic::Endpoint::client(flood_io.get_executor(), server.address(), ostrel_core::clock::steady(),
                                        asio::ip::make_address("127.0.0.2"));
    ASSERT_TRUE(flood.has_value());
    int opened = 0;
    for (int sent = 0; sent < kFlood; sent += kFloodBatch) {
      std::vector<quic::Connection> batch;
      for (int i = 0; i < kFloodBatch; ++i) {
        auto c = flood->connect(server.address());
        ASSERT_TRUE(c.has_value());
        batch.push_back(std::move(*c));
      }
      opened += run_sync(flood_io, handshakes_ended(batch));
    }
    EXPECT_EQ(opened, static_cast<int>(limits::kMaxPerAddress));
    const auto stats = server.stats();
    EXPECT_EQ(stats.connections, limits::kMaxPerAddress);
    EXPECT_GE(stats.refused, static_cast<std::size_t>(kFlood) - limits::kMaxPerAddress);
    RecordProperty("flood_retries", static_cast<int>(stats.retries));

    std::optional<QuicClient> player;
    auto took = log_in(io, server, player);
    ASSERT_TRUE(took.has_value()) << took.error();
    EXPECT_LT(*took, 3s);  // a lockout would be the 10 s handshake timeout
    RecordProperty("login_ms_during_flood", static_cast<int>(took->count()));
    // The flood's client goes away without a word; its connections stay until their deadline.
  }
  const std::size_t held = heap_in_use() - std::min(heap_in_use(), heap_before);
  RecordProperty("server_heap_bytes_for_flood", static_cast<int>(held));
  EXPECT_LT(held, std::size_t{4} << 20);
  EXPECT_EQ(server.connection_count(), limits::kMaxPerAddress + 1);
  server.advance(limits::kHelloWithin);
  server.advance(1s);  // the closing periods
  EXPECT_EQ(server.connection_count(), 1u);
}

// One UDP socket (127.0.0.3) sends 5,000 Initials and nothing more. The server holds at most
// kMaxUnprovenPerAddress half-open connections for it and answers the rest with Retry, which
// the flood never follows; another client logs in as usual; the half-open ones end at the
// handshake timeout.
TEST(QuicFlood, InitialsFromOneSocketLockNobodyOut) {
  ManualClock clock;
  quic::Settings settings;
  TestServer server(test::echo, settings, clock);
  asio::io_context io;
  {
    // The flood's io_context never runs: its connections send their first Initial and nothing else.
    asio::io_context flood_io;
    auto flood = quic::Endpoint::client(flood_io.get_executor(), server.address(), ostrel_core::clock::steady(),
                                        asio::ip::make_address("127.0.0.3"));
    ASSERT_TRUE(flood.has_value());
    for (int sent = 0; sent < kFlood; sent += kFloodBatch) {
      for (int i = 0; i < kFloodBatch; ++i) ASSERT_TRUE(flood->connect(server.address()).has_value());
      // Each Initial is admitted or answered before the next batch goes out.
      ASSERT_TRUE(test::eventually(io, [&] {
        const auto s = server.stats();
        return s.retries + s.connections == static_cast<std::size_t>(sent + kFloodBatch);
      }, 20s));
    }
    const auto stats = server.stats();
    EXPECT_EQ(stats.half_open, limits::kMaxUnprovenPerAddress);
    EXPECT_EQ(stats.retries, static_cast<std::size_t>(kFlood) - limits::kMaxUnprovenPerAddress);

    std::optional<QuicClient> player;
    auto took = log_in(io, server, player);
    ASSERT_TRUE(took.has_value()) << took.error();
    EXPECT_LT(*took, 3s);
    RecordProperty("login_ms_during_flood", static_cast<int>(took->count()));
  }
  EXPECT_EQ(server.connection_count(), limits::kMaxUnprovenPerAddress + 1);
  server.advance(limits::kHandshakeTimeout);
  EXPECT_EQ(server.connection_count(), 1u);
  EXPECT_EQ(server.stats().half_open, 0u);
}

// 1,000 connections that each send the header of a 1 MiB frame and nothing else hold no
// frame buffer: the payload is allocated only as its bytes arrive.
TEST(QuicFlood, HeadersWithoutPayloadsReserveNothing) {
  constexpr int kConns = 1000;
  std::atomic<int> headers = 0;
  quic::Settings settings;
  settings.limits.per_address = kConns;
  // 1,000 handshakes on one thread each way: on a loaded machine (or a sanitizer build) they take
  // longer than the usual 10 s, which is not what this test is about.
  settings.handshake_timeout = 60s;
  settings.limits.retry_token_lifetime = 60s;
  TestServer server(
      [&headers](quic::Connection conn) -> asio::awaitable<std::expected<void, frame::FrameError>> {
        auto s = co_await endpoint::accept_stream(conn);
        if (!s) co_return std::unexpected(s.error());
        auto n = co_await frame::read_header(*s);
        if (!n) co_return std::unexpected(n.error());
        endpoint::hello_received(conn);
        ++headers;
        auto body = co_await frame::read_body(*s, *n);
        if (!body) co_return std::unexpected(body.error());
        co_return std::expected<void, frame::FrameError>{};
      },
      settings);
  asio::io_context io;
  auto client = quic::Endpoint::client(io.get_executor(), server.address());
  ASSERT_TRUE(client.has_value());
  std::vector<quic::Connection> conns;
  quic::ClientOptions patient;
  patient.settings.handshake_timeout = 60s;
  for (int i = 0; i < kConns; ++i) conns.push_back(*client->connect(server.address(), patient));
  ASSERT_EQ(run_sync(io, handshakes_ended(conns)), kConns);
  std::vector<quic::Stream> streams;
  for (auto& c : conns) {
    auto s = c.open_stream();
    ASSERT_TRUE(s.has_value()) << s.error().message();
    streams.push_back(*s);
  }
  const std::size_t before = heap_in_use();
  run_sync(io, [&]() -> asio::awaitable<bool> {
    const std::array<std::uint8_t, 4> header = {0x00, 0x10, 0x00, 0x00};  // 1,048,576 bytes follow
    for (auto& s : streams) {
      if (!co_await frame::write_all(s, header)) co_return false;
    }
    // Acknowledged: the clients' send buffers are empty again.
    for (auto& s : streams) (void)co_await s.delivered(60s);
    co_return true;
  }());
  ASSERT_TRUE(test::eventually(io, [&] {
    server.connection_count();  // a barrier: the handlers that counted have gone on to wait
    return headers.load() == kConns;
  }, 120s));  // 1,000 streams on one server thread: slow under a sanitizer on a loaded machine
  const std::size_t after = heap_in_use();
  const std::size_t per_connection = (after - std::min(after, before)) / kConns;
  RecordProperty("bytes_per_header_only_connection", static_cast<int>(per_connection));
  EXPECT_LT(per_connection, std::size_t{16} << 10);  // the old reader held 1 MiB each
}

}  // namespace
}  // namespace ostrel_server::transport
