#include "transport/endpoint.hpp"

#include <memory>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <fmt/format.h>

#include "base/log.hpp"

namespace ostrel_server::transport::endpoint {
namespace {

constexpr const char* kTarget = "ostrel_server::transport::endpoint";

// Connection tasks still running; the accept loop waits for the last.
struct Tasks {
  explicit Tasks(const asio::any_io_executor& ex) : done(ex, asio::steady_timer::time_point::max()) {}
  std::size_t running = 0;
  asio::steady_timer done;  // cancelled when running drops to 0
};

// Logs how a connection whose handler failed ended: a missed login deadline, or a close by
// either side without a frame error, at DEBUG; anything else at WARN.
void log_end(const quic::Connection& conn, const frame::FrameError& error, const std::string& remote) {
  const auto info = conn.close_info();
  if (info && info->kind == quic::CloseInfo::Kind::Deadline) {
    OSTREL_DEBUG(kTarget, fmt::format("connection closed: {}", info->reason), ostrel_core::log::value("remote", remote));
  } else if (error.is_early_eof()) {
    OSTREL_DEBUG(kTarget, "connection closed", ostrel_core::log::value("remote", remote));
  } else {
    OSTREL_WARN(kTarget, fmt::format("connection failed: {}", error.message()), ostrel_core::log::value("remote", remote));
  }
}

asio::awaitable<void> run_connection(quic::Connection conn, Handler handler, std::shared_ptr<Tasks> tasks) {
  const std::string remote = quic::format_addr(conn.remote());
  if (auto h = co_await conn.handshake(); !h) {
    OSTREL_DEBUG(kTarget, fmt::format("handshake failed: {}", h.error().message()),
                 ostrel_core::log::value("remote", remote));
  } else {
    conn.set_deadline(limits::kHelloWithin, std::string(kNoHelloReason));
    if (auto r = co_await handler(conn); !r) log_end(conn, r.error(), remote);
  }
  if (--tasks->running == 0) tasks->done.cancel();
}

}  // namespace

std::expected<quic::Endpoint, quic::EndpointError> bind(const asio::any_io_executor& ex,
                                                        const asio::ip::udp::endpoint& addr,
                                                        const cert::ServerCert& cert, const quic::Settings& settings) {
  return quic::Endpoint::bind(ex, addr, cert, settings);
}

asio::awaitable<void> accept_loop(quic::Endpoint& endpoint, Handler handler, const std::atomic<bool>& stop) {
  if (auto addr = endpoint.local_address()) {
    OSTREL_INFO(kTarget, "listening for QUIC connections", ostrel_core::log::value("addr", quic::format_addr(*addr)));
  } else {
    OSTREL_INFO(kTarget, "listening for QUIC connections");
  }
  auto tasks = std::make_shared<Tasks>(endpoint.executor());
  for (;;) {
    auto incoming = co_await endpoint.accept();
    if (!incoming) break;
    if (stop.load(std::memory_order_acquire)) break;  // the endpoint close below refuses it
    ++tasks->running;
    asio::co_spawn(endpoint.executor(), run_connection(std::move(*incoming), handler, tasks), asio::detached);
  }
  endpoint.close(kShutdownCode, kShutdownReason);
  co_await endpoint.wait_idle();
  while (tasks->running > 0) {
    co_await tasks->done.async_wait(asio::experimental::as_tuple(asio::use_awaitable));
  }
}

asio::awaitable<std::expected<quic::Stream, frame::FrameError>> accept_stream(quic::Connection& conn) {
  auto s = co_await conn.accept_stream();
  if (s) co_return std::move(*s);
  const auto& info = s.error().info();
  const bool clean = info.kind == quic::CloseInfo::Kind::Application ||
                     (info.by_peer && info.kind == quic::CloseInfo::Kind::Transport);
  const auto kind = clean ? StreamErrc::UnexpectedEof : StreamErrc::Closed;
  co_return std::unexpected(frame::FrameError::stream(ostrel_core::IoError(info.describe(), make_error_code(kind))));
}

void hello_received(quic::Connection& conn) { conn.set_deadline(limits::kWorldWithin, std::string(kNoWorldReason)); }

void entered_world(quic::Connection& conn) { conn.clear_deadline(); }

asio::awaitable<void> flush_and_close(quic::Stream& stream, quic::Connection& conn) {
  stream.finish();
  (void)co_await stream.delivered(kFlushLimit);  // a timeout is not an error: close anyway
  conn.close(0, kDisconnectedReason);
}

}  // namespace ostrel_server::transport::endpoint
