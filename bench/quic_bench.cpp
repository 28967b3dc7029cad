// QUIC endpoint on loopback: handshake time, one-stream throughput from server to client, the
// server's CPU time per 100 MB sent, and the network side's CPU per connection with 200 clients
// each receiving a steady stream (as chunk streaming does) at several rates.

#include <pthread.h>
#include <time.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <optional>
#include <thread>

#include <benchmark/benchmark.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/use_future.hpp>

#include "transport/cert.hpp"
#include "transport/endpoint.hpp"
#include "transport/frame.hpp"
#include "transport/quic/endpoint.hpp"
#include "../server/tests/support/run.hpp"  // header-only: the bench does not link the test helpers

namespace {

namespace quic = ostrel_server::transport::quic;
namespace frame = ostrel_server::transport::frame;
namespace endpoint = ostrel_server::transport::endpoint;

constexpr std::size_t kChunk = 64 * 1024;

constexpr auto kTick = std::chrono::milliseconds(50);  // the connection task's pace

// The payload lengths of the frames that carry `n` bytes at `rate` bytes a second (0: at once),
// tick by tick; `frame(len, last_of_tick)` is called for each.
template <class F>
void frames_of(std::uint64_t n, std::uint64_t rate, F frame) {
  const std::uint64_t per_tick = rate == 0 ? n : std::max<std::uint64_t>(1, rate / 20);
  for (std::uint64_t sent = 0; sent < n;) {
    for (std::uint64_t this_tick = 0; this_tick < per_tick && sent < n;) {
      const auto len = static_cast<std::size_t>(std::min<std::uint64_t>({kChunk, per_tick - this_tick, n - sent}));
      this_tick += len;
      sent += len;
      frame(len, this_tick >= per_tick || sent >= n);
    }
  }
}

// frames_of as a list of (length, last of its tick).
std::vector<std::pair<std::size_t, bool>> plan_of(std::uint64_t n, std::uint64_t rate) {
  std::vector<std::pair<std::size_t, bool>> frames;
  frames_of(n, rate, [&](std::size_t len, bool last) { frames.emplace_back(len, last); });
  return frames;
}

// Answers a frame holding a byte count (u64, little-endian) and optionally a rate in bytes per
// second (u64) with that many bytes in frames of at most 64 KiB: at once without a rate, or
// one tick's share every 50 ms. Then waits for the next request.
asio::awaitable<std::expected<void, frame::FrameError>> sender(quic::Connection conn) {
  auto s = co_await endpoint::accept_stream(conn);
  if (!s) co_return std::unexpected(s.error());
  endpoint::entered_world(conn);
  const std::vector<std::uint8_t> chunk(kChunk, 0x5a);
  asio::steady_timer tick(co_await asio::this_coro::executor);
  for (;;) {
    auto req = co_await frame::read_payload(*s);
    if (!req) co_return std::unexpected(req.error());
    std::uint64_t n = 0, rate = 0;
    std::memcpy(&n, req->data(), std::min<std::size_t>(8, req->size()));
    if (req->size() >= 16) std::memcpy(&rate, req->data() + 8, 8);
    const auto frames = plan_of(n, rate);
    auto next = std::chrono::steady_clock::now();
    for (const auto& f : frames) {
      if (auto w = co_await frame::write_encoded(*s, std::span(chunk).first(f.first)); !w) co_return w;
      if (rate != 0 && f.second) {
        next += kTick;
        tick.expires_at(next);
        co_await tick.async_wait(asio::experimental::as_tuple(asio::use_awaitable));
      }
    }
  }
}

class Server {
 public:
  Server() {
    const auto dir = std::filesystem::temp_directory_path() / ("ostrel-quic-bench-" + std::to_string(::getpid()));
    auto cert = ostrel_server::cert::ServerCert::load_or_create(dir);
    std::filesystem::remove_all(dir);
    if (!cert) std::abort();
    cert_ = std::move(*cert);
    quic::Settings settings;
    settings.limits.per_address = 1024;  // every benchmark client is on 127.0.0.1
    auto ep = endpoint::bind(io_.get_executor(), {asio::ip::make_address("127.0.0.1"), 0}, *cert_, settings);
    if (!ep) std::abort();
    ep_.emplace(std::move(*ep));
    addr_ = *ep_->local_address();
    done_ = asio::co_spawn(ep_->executor(), endpoint::accept_loop(*ep_, sender, stop_), asio::use_future);
    thread_ = std::thread([this] { io_.run(); });
  }
  ~Server() {
    asio::post(ep_->executor(), [this] { ep_->close(0, "server shutting down"); });
    done_.get();
    thread_.join();
  }
  asio::ip::udp::endpoint address() const { return addr_; }
  // CPU seconds the server thread has used so far.
  double cpu_seconds() {
    clockid_t id;
    pthread_getcpuclockid(thread_.native_handle(), &id);
    timespec ts{};
    clock_gettime(id, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }

 private:
  asio::io_context io_;
  std::optional<ostrel_server::cert::ServerCert> cert_;
  std::optional<quic::Endpoint> ep_;
  asio::ip::udp::endpoint addr_;
  std::atomic<bool> stop_{false};
  std::future<void> done_;
  std::thread thread_;
};

asio::awaitable<bool> handshake(quic::Connection& conn) { co_return (co_await conn.handshake()).has_value(); }

void BM_Handshake(benchmark::State& state) {
  Server server;
  asio::io_context io;
  auto client = quic::Endpoint::client(io.get_executor(), server.address());
  if (!client) std::abort();
  const quic::ClientOptions options;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    auto conn = client->connect(server.address(), options);
    if (!conn || !ostrel_server::test::run_sync(io, handshake(*conn))) {
      state.SkipWithError("handshake failed");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    conn->close(0, "done");
  }
}
BENCHMARK(BM_Handshake)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(300);

// Asks for `bytes` (at `rate` bytes a second, or at once) and reads them, frame headers included.
asio::awaitable<bool> fetch(quic::Stream& s, std::uint64_t bytes, std::uint64_t rate = 0) {
  std::vector<std::uint8_t> req(16);
  std::memcpy(req.data(), &bytes, 8);
  std::memcpy(req.data() + 8, &rate, 8);
  if (!co_await frame::write_encoded(s, req)) co_return false;
  std::vector<std::uint8_t> buf(256 * 1024);
  std::uint64_t got = 0;
  std::uint64_t want = 0;
  frames_of(bytes, rate, [&](std::size_t len, bool) { want += len + frame::kHeaderBytes; });
  while (got < want) {
    auto n = co_await s.read_some(buf);
    if (!n || *n == 0) co_return false;
    got += *n;
  }
  co_return true;
}

void BM_ServerToClient(benchmark::State& state) {
  const std::uint64_t bytes = 100'000'000;
  Server server;
  asio::io_context io;
  auto client = quic::Endpoint::client(io.get_executor(), server.address());
  if (!client) std::abort();
  const quic::ClientOptions options;
  auto conn = client->connect(server.address(), options);
  if (!conn || !ostrel_server::test::run_sync(io, handshake(*conn))) std::abort();
  auto stream = conn->open_stream();
  if (!stream) std::abort();
  double cpu = 0;
  for (auto _ : state) {
    const double before = server.cpu_seconds();
    if (!ostrel_server::test::run_sync(io, fetch(*stream, bytes))) {
      state.SkipWithError("transfer failed");
      break;
    }
    cpu += server.cpu_seconds() - before;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.counters["server_cpu_s_per_100MB"] =
      benchmark::Counter(cpu / static_cast<double>(state.iterations()) * (100e6 / static_cast<double>(bytes)));
  conn->close(0, "done");
}
BENCHMARK(BM_ServerToClient)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// 200 clients, each receiving a steady stream at `state.range(0)` KiB a second for 3 s, spread
// over two client threads. Reports the server thread's share of one core and its CPU time per
// connection per second of streaming. A share near 1 means one core is saturated.
void BM_StreamTo200Clients(benchmark::State& state) {
  constexpr int kClients = 200;
  constexpr int kThreads = 2;
  constexpr std::uint64_t kSeconds = 3;
  const std::uint64_t rate = static_cast<std::uint64_t>(state.range(0)) * 1024;
  Server server;
  struct Side {
    asio::io_context io;
    std::optional<quic::Endpoint> endpoint;
    std::vector<quic::Connection> conns;
    std::vector<quic::Stream> streams;
  };
  std::vector<std::unique_ptr<Side>> sides;
  for (int t = 0; t < kThreads; ++t) {
    auto side = std::make_unique<Side>();
    auto ep = quic::Endpoint::client(side->io.get_executor(), server.address());
    if (!ep) std::abort();
    side->endpoint.emplace(std::move(*ep));
    const quic::ClientOptions options;
    for (int i = t; i < kClients; i += kThreads) {
      auto conn = side->endpoint->connect(server.address(), options);
      if (!conn || !ostrel_server::test::run_sync(side->io, handshake(*conn))) std::abort();
      auto stream = conn->open_stream();
      if (!stream) std::abort();
      side->conns.push_back(*conn);
      side->streams.push_back(*stream);
    }
    sides.push_back(std::move(side));
  }
  double util = 0;
  for (auto _ : state) {
    std::atomic<int> failed = 0;
    const double cpu_before = server.cpu_seconds();
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (auto& side : sides) {
      threads.emplace_back([&, s = side.get()] {
        int done = 0;
        for (auto& stream : s->streams) {
          asio::co_spawn(
              s->io,
              [&, st = &stream]() -> asio::awaitable<void> {
                if (!co_await fetch(*st, rate * kSeconds, rate)) ++failed;
                if (++done == static_cast<int>(s->streams.size())) s->io.stop();
              },
              asio::detached);
        }
        s->io.restart();
        s->io.run();
      });
    }
    for (auto& t : threads) t.join();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (failed.load() != 0) {
      state.SkipWithError("a stream failed");
      break;
    }
    util = (server.cpu_seconds() - cpu_before) / wall;
    state.SetIterationTime(wall);
  }
  state.counters["server_core_share"] = benchmark::Counter(util);
  state.counters["cpu_us_per_conn_per_s"] = benchmark::Counter(util / kClients * 1e6);
  state.counters["total_MB_per_s"] = benchmark::Counter(static_cast<double>(rate) * kClients / 1e6);
  for (auto& side : sides) {
    for (auto& c : side->conns) c.close(0, "done");
  }
}
BENCHMARK(BM_StreamTo200Clients)->Arg(128)->Arg(512)->Arg(1024)->Arg(2048)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace