// The QUIC endpoint under load and under garbage.

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>

#include "support/quic_client.hpp"
#include "support/run.hpp"

namespace ostrel_server::transport {
namespace {

using namespace std::chrono_literals;
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

// One client: connects, sends 1 MiB in four frames, reads the four back and checks every byte.
asio::awaitable<void> echo_one_mib(asio::io_context& io, const TestServer& server, std::uint32_t seed,
                                   LoadResult* result) {
  auto frames = four_frames(seed);
  auto client = co_await QuicClient::connect(io.get_executor(), server.address(), server.cert().fingerprint);
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
  TestServer server;
  asio::io_context io;
  LoadResult result;
  for (std::uint32_t i = 0; i < 200; ++i) asio::co_spawn(io, echo_one_mib(io, server, i, &result), asio::detached);
  io.run();
  EXPECT_EQ(result.ok.load(), 200) << result.first_error;
  io.restart();
  EXPECT_TRUE(server_drains(io, server, 0, 20s));
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

}  // namespace
}  // namespace ostrel_server::transport
