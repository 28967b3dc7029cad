// The remote console on loopback: one command's round trip (line out, reply with its "\n.\n"
// back), alone and with 100 idle sessions open. The server runs on one runtime thread; the
// `threads` counter is the process's thread count with the idle sessions open, the same as
// without them.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/read_until.hpp>
#include <asio/write.hpp>

#include "console/rcon.hpp"
#include "hub/hub.hpp"

namespace {

using asio::ip::tcp;
namespace rcon = ostrel_server::rcon;

constexpr const char* kToken = "benchmark-token-0123";

std::size_t thread_count() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

// A console listening on a free loopback port, served by one thread.
class Server {
 public:
  Server() {
    auto ctx = std::make_shared<rcon::RconContext>();
    ctx->token = kToken;
    ctx->hub = ostrel_server::transport::endpoint::Shared::create({});
    control_ = ctx->hub->control();
    auto acceptor = rcon::bind_listener(io_.get_executor(), ostrel_server::config::SocketAddr::v4({127, 0, 0, 1}, 0));
    at_ = acceptor->local_endpoint();
    asio::co_spawn(io_, rcon::accept_loop(std::move(*acceptor), std::move(ctx), std::chrono::milliseconds(10)),
                   asio::detached);
    thread_ = std::thread([this] { io_.run(); });
  }
  ~Server() {
    control_->request_stop();
    thread_.join();
  }
  const tcp::endpoint& at() const { return at_; }

 private:
  asio::io_context io_;
  ostrel_server::sim::Control control_;
  tcp::endpoint at_;
  std::thread thread_;
};

// Sends `line` and reads through the reply's terminator.
void round_trip(tcp::socket& s, std::string& buf, std::string_view line) {
  asio::write(s, asio::buffer(line));
  const std::size_t n = asio::read_until(s, asio::dynamic_buffer(buf), "\n.\n");
  buf.erase(0, n);
}

void command_round_trips(benchmark::State& state, int idle) {
  Server server;
  asio::io_context io;
  std::vector<tcp::socket> idle_sessions;
  for (int i = 0; i < idle; ++i) {
    idle_sessions.emplace_back(io);
    idle_sessions.back().connect(server.at());
  }
  tcp::socket s(io);
  s.connect(server.at());
  std::string buf;
  asio::read_until(s, asio::dynamic_buffer(buf), "\n.\n");  // the greeting
  buf.clear();
  round_trip(s, buf, std::string("auth ") + kToken + "\n");
  state.counters["threads"] = static_cast<double>(thread_count());
  for (auto _ : state) round_trip(s, buf, "status\n");
}

void BM_ConsoleStatusRoundTrip(benchmark::State& state) { command_round_trips(state, 0); }
BENCHMARK(BM_ConsoleStatusRoundTrip)->UseRealTime();

void BM_ConsoleStatusRoundTripWith100Idle(benchmark::State& state) { command_round_trips(state, 100); }
BENCHMARK(BM_ConsoleStatusRoundTripWith100Idle)->UseRealTime();

}  // namespace
