// QUIC endpoint on loopback: handshake time, one-stream throughput from server to client, and
// the server's CPU time per 100 MB sent.

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
#include <asio/io_context.hpp>
#include <asio/post.hpp>
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

// Answers a first frame holding a byte count (u64, little-endian) with that many bytes in
// 64 KiB frames, then waits for the next request.
asio::awaitable<std::expected<void, frame::FrameError>> sender(quic::Connection conn) {
  auto s = co_await endpoint::accept_stream(conn);
  if (!s) co_return std::unexpected(s.error());
  const std::vector<std::uint8_t> chunk(kChunk, 0x5a);
  for (;;) {
    auto req = co_await frame::read_payload(*s);
    if (!req) co_return std::unexpected(req.error());
    std::uint64_t n = 0;
    std::memcpy(&n, req->data(), std::min<std::size_t>(8, req->size()));
    for (std::uint64_t sent = 0; sent < n; sent += kChunk) {
      if (auto w = co_await frame::write_encoded(*s, chunk); !w) co_return w;
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
    auto ep = endpoint::bind(io_.get_executor(), {asio::ip::make_address("127.0.0.1"), 0}, *cert_);
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

asio::awaitable<bool> fetch(quic::Stream& s, std::uint64_t bytes) {
  std::vector<std::uint8_t> req(8);
  std::memcpy(req.data(), &bytes, 8);
  if (!co_await frame::write_encoded(s, req)) co_return false;
  std::vector<std::uint8_t> buf(256 * 1024);
  std::uint64_t got = 0;
  const std::uint64_t want = (bytes + kChunk - 1) / kChunk * (kChunk + frame::kHeaderBytes);
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

}  // namespace
