#pragma once
// A client on the server's own QUIC layer, for integration tests and load benchmarks: it
// connects, checks the server's fingerprint, opens the stream and exchanges frames. Also the
// echo handler that stands in for the connection task, a server to run it on, and waiting for
// the server's state while the client runs.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <asio/awaitable.hpp>
#include <asio/io_context.hpp>

#include "base/clock.hpp"
#include "transport/cert.hpp"
#include "support/run.hpp"
#include "transport/endpoint.hpp"
#include "transport/frame.hpp"
#include "transport/quic/endpoint.hpp"

namespace ostrel_server::test {

class QuicClient {
 public:
  // Handshakes with `server`, checks that its certificate has `fingerprint` and opens the
  // stream. The error is a sentence for the test's failure message.
  static asio::awaitable<std::expected<QuicClient, std::string>> connect(
      const asio::any_io_executor& ex, const asio::ip::udp::endpoint& server, const cert::Fingerprint& fingerprint,
      const transport::quic::ClientOptions& options);
  // With the default options. (No default argument: g++ 12 miscompiles a defaulted temporary
  // holding an initializer list when the call is awaited.)
  static asio::awaitable<std::expected<QuicClient, std::string>> connect(const asio::any_io_executor& ex,
                                                                          const asio::ip::udp::endpoint& server,
                                                                          const cert::Fingerprint& fingerprint);

  asio::awaitable<std::expected<void, transport::frame::FrameError>> send(std::span<const std::uint8_t> payload);
  asio::awaitable<std::expected<std::vector<std::uint8_t>, transport::frame::FrameError>> receive();
  // Writes raw bytes (a header that lies, half a frame).
  asio::awaitable<std::expected<void, transport::frame::FrameError>> send_raw(std::span<const std::uint8_t> bytes);

  transport::quic::Connection& connection() { return *conn_; }
  transport::quic::Stream& stream() { return *stream_; }
  transport::quic::Endpoint& endpoint() { return *endpoint_; }

 private:
  QuicClient() = default;
  std::unique_ptr<transport::quic::Endpoint> endpoint_;
  std::optional<transport::quic::Connection> conn_;
  std::optional<transport::quic::Stream> stream_;
};

// Echoes every frame back. A bad frame closes the connection with code kEchoRefusal and the
// frame error's text as the reason. Stands in for a login too: the first frame counts as the
// Hello and the second as entering the world, each after it is echoed (so a client that has its
// echo knows the deadline moved); a frame "hold" (kHoldFrame) is echoed but does neither.
inline constexpr std::uint64_t kEchoRefusal = 5;
inline constexpr std::string_view kHoldFrame = "hold";
asio::awaitable<std::expected<void, transport::frame::FrameError>> echo(transport::quic::Connection conn);

// A server endpoint on 127.0.0.1 with a fresh certificate, running the accept loop with a
// handler on its own io_context thread.
class TestServer {
 public:
  explicit TestServer(transport::endpoint::Handler handler = echo, transport::quic::Settings settings = {});
  // On a manual clock, which is the server's time; stop() steps it past the closing periods.
  TestServer(transport::endpoint::Handler handler, transport::quic::Settings settings,
             ostrel_core::clock::ManualClock& clock);
  ~TestServer();  // closes the endpoint and joins
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  asio::ip::udp::endpoint address() const { return address_; }
  const cert::ServerCert& cert() const { return *cert_; }
  // Read on the endpoint's strand while the server runs. Each is also a barrier: what was
  // posted to the strand before it (a manual clock's step) has been handled.
  std::size_t connection_count();
  std::size_t routed_id_count();
  transport::quic::Stats stats();
  // Steps the manual clock and returns once the server has handled the step (a step handled
  // later would see the time of a later one). REQUIRES: made with a manual clock.
  void advance(std::chrono::nanoseconds by);
  // Runs `fn` on the server's one thread, between two steps of its tasks, and waits for it.
  void on_server(const std::function<void()>& fn);
  // Closes the endpoint (as the stop does) and waits for the accept loop to return.
  void stop();
  std::atomic<bool>& stop_flag() { return stop_; }
  // Whether the accept loop returned within `limit`.
  bool loop_ended(std::chrono::milliseconds limit);

 private:
  struct Impl;
  // Runs `fn` on the endpoint's strand and waits for its result (directly once stopped).
  template <class F>
  auto on_strand(F fn);
  std::unique_ptr<Impl> impl_;
  std::optional<cert::ServerCert> cert_;
  asio::ip::udp::endpoint address_;
  std::atomic<bool> stop_{false};
  ostrel_core::clock::ManualClock* manual_ = nullptr;
};

// A fresh certificate in a temporary directory (created once per process).
const cert::ServerCert& test_cert();

// Suspends the calling coroutine for `d`.
asio::awaitable<void> sleep_for(std::chrono::milliseconds d);

// Polls `cond` on the test thread for up to `limit`, letting the client io_context run.
template <class F>
bool eventually(asio::io_context& io, F cond, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    run_sync(io, []() -> asio::awaitable<int> {
      co_await sleep_for(std::chrono::milliseconds(20));
      co_return 0;
    }());
  }
  return true;
}

}  // namespace ostrel_server::test
