// g++ 12 inlines Asio's coroutine frame allocation into the session coroutine and then takes the
// frame's own operator delete for a mismatch with the global new underneath it.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

#include <array>
#include <utility>

#include <asio/co_spawn.hpp>
#include <asio/strand.hpp>
#include <asio/detached.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/read.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>
#include <fmt/format.h>

#include "base/log.hpp"
#include "console/line.hpp"
#include "console/rcon.hpp"
#include "hub/hub.hpp"

namespace ostrel_server::rcon {

namespace log = ostrel_core::log;
using asio::ip::tcp;
using ostrel_core::IoError;
using Done = std::expected<void, IoError>;

namespace {

constexpr auto kTuple = asio::experimental::as_tuple(asio::use_awaitable);

config::SocketAddr to_socket_addr(const tcp::endpoint& ep) {
  const auto address = ep.address();
  if (address.is_v4()) return config::SocketAddr::v4(address.to_v4().to_bytes(), ep.port());
  return config::SocketAddr::v6(address.to_v6().to_bytes(), ep.port());
}

tcp::endpoint to_endpoint(const config::SocketAddr& addr) {
  if (addr.family() == config::SocketAddr::Family::V4) {
    std::array<unsigned char, 4> b{};
    std::copy_n(addr.octets().begin(), 4, b.begin());
    return {asio::ip::address_v4(b), addr.port()};
  }
  std::array<unsigned char, 16> b{};
  std::copy_n(addr.octets().begin(), 16, b.begin());
  return {asio::ip::address_v6(b), addr.port()};
}

// Writes all of `bytes`; a write that takes nothing fails as "write zero".
asio::awaitable<Done> write_all(tcp::socket& socket, std::string_view bytes) {
  auto [ec, n] = co_await asio::async_write(socket, asio::buffer(bytes.data(), bytes.size()), kTuple);
  if (ec) co_return std::unexpected(IoError::from_code(ec));
  if (n != bytes.size()) co_return std::unexpected(IoError("write zero"));
  co_return Done{};
}

// Reads the socket's lines through one read buffer of kMaxLineBytes.
class LineReader {
 public:
  // The next line's bytes; nothing at the end of the stream; the read error or "RCON line too
  // long".
  asio::awaitable<std::expected<std::optional<std::string>, IoError>> next(tcp::socket& socket) {
    std::string line;
    for (;;) {
      switch (lines_.next(line)) {
        case LineBuffer::Status::Line:
          co_return std::optional<std::string>(std::move(line));
        case LineBuffer::Status::TooLong:
          co_return std::unexpected(IoError(std::string(kLineTooLong), asio::error::invalid_argument));
        case LineBuffer::Status::NeedMore:
          break;
      }
      if (begin_ == end_) {
        if (ended_) co_return lines_.finish();
        auto [ec, n] = co_await socket.async_read_some(asio::buffer(buffer_), kTuple);
        if (ec == asio::error::eof) {
          ended_ = true;
          continue;
        }
        if (ec) co_return std::unexpected(IoError::from_code(ec));
        begin_ = 0;
        end_ = n;
      }
      begin_ += lines_.feed(std::span<const char>(buffer_.data() + begin_, end_ - begin_));
    }
  }

 private:
  std::array<char, kMaxLineBytes> buffer_{};
  std::size_t begin_ = 0, end_ = 0;  // bytes of buffer_ not yet fed
  bool ended_ = false;               // the peer closed its side
  LineBuffer lines_;
};

asio::awaitable<void> run_session(Context ctx, tcp::socket socket, std::string peer) {
  auto done = co_await session(std::move(ctx), std::move(socket));
  if (!done) {
    OSTREL_WARN(kTarget, fmt::format("RCON session ended: {}", done.error().message()), log::value("peer", peer));
  }
}

}  // namespace

bool is_loopback(const asio::ip::address& address) { return to_socket_addr(tcp::endpoint(address, 0)).is_loopback(); }

std::expected<tcp::acceptor, IoError> bind_listener(const asio::any_io_executor& ex, const config::SocketAddr& addr) {
  if (!addr.is_loopback()) {
    return std::unexpected(IoError(
        fmt::format("RCON must bind a loopback address, not {}. Tunnel over SSH for remote access; this protocol "
                    "has no transport encryption.",
                    addr.to_string()),
        asio::error::invalid_argument));
  }
  const auto endpoint = to_endpoint(addr);
  tcp::acceptor acceptor(ex);
  std::error_code ec;
  acceptor.open(endpoint.protocol(), ec);
  if (!ec) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) return std::unexpected(IoError::from_code(ec));
  return acceptor;
}

asio::awaitable<void> wait_for_stop(const RconContext& ctx, std::chrono::milliseconds poll) {
  asio::steady_timer timer(co_await asio::this_coro::executor);
  const auto& control = *ctx.hub->control();
  for (;;) {
    timer.expires_after(poll);
    co_await timer.async_wait(asio::use_awaitable);
    if (control.stop_requested()) co_return;
  }
}

namespace {

// Runs on a strand: the race's losing branch is cancelled from the winner's thread, so the two
// must never run side by side. Sessions run on `ex`, off the strand.
asio::awaitable<Done> accept_on_strand(tcp::acceptor& acceptor, Context ctx, std::chrono::milliseconds poll,
                                       asio::any_io_executor ex) {
  using namespace asio::experimental::awaitable_operators;
  for (;;) {
    auto first = co_await (acceptor.async_accept(kTuple) || wait_for_stop(*ctx, poll));
    if (first.index() == 1) co_return Done{};  // the acceptor closes as it goes
    auto [ec, socket] = std::move(std::get<0>(first));
    if (ec) co_return std::unexpected(IoError::from_code(ec));
    std::error_code peer_ec;
    const auto peer = socket.remote_endpoint(peer_ec);
    if (peer_ec) continue;  // gone before it was looked at
    const auto peer_addr = to_socket_addr(peer);
    const auto peer_text = peer_addr.to_string();
    if (!peer_addr.is_loopback()) {
      OSTREL_WARN(kTarget, "refused a non-loopback RCON connection", log::value("peer", peer_text));
      continue;  // the socket closes unwritten
    }
    asio::co_spawn(ex, run_session(ctx, std::move(socket), peer_text), asio::detached);
  }
}

}  // namespace

asio::awaitable<Done> accept_loop(tcp::acceptor acceptor, Context ctx, std::chrono::milliseconds poll) {
  const auto ex = co_await asio::this_coro::executor;
  co_return co_await asio::co_spawn(asio::make_strand(ex), accept_on_strand(acceptor, std::move(ctx), poll, ex),
                                    asio::use_awaitable);
}

asio::awaitable<Done> serve(config::SocketAddr addr, Context ctx, std::chrono::milliseconds poll) {
  auto acceptor = bind_listener(co_await asio::this_coro::executor, addr);
  if (!acceptor) co_return std::unexpected(std::move(acceptor.error()));
  OSTREL_INFO(kTarget, "RCON listening on loopback", log::value("addr", addr.to_string()));
  co_return co_await accept_loop(std::move(*acceptor), std::move(ctx), poll);
}

asio::awaitable<Done> session(Context ctx, tcp::socket socket) {
  if (auto w = co_await write_all(socket, kGreeting); !w) co_return w;
  LineReader reader;
  bool authenticated = false;
  for (;;) {
    auto bytes = co_await reader.next(socket);
    if (!bytes) co_return std::unexpected(std::move(bytes.error()));
    if (!*bytes) co_return Done{};  // the peer closed
    const std::string text = line_text(**bytes);
    if (text.empty()) continue;
    if (!authenticated) {
      switch (check_auth_line(text, ctx->token)) {
        case AuthOutcome::Accepted:
          authenticated = true;
          if (auto w = co_await write_all(socket, kAuthenticated); !w) co_return w;
          continue;
        case AuthOutcome::BadToken:
          OSTREL_WARN(kTarget, "RCON authentication failed");
          co_return co_await write_all(socket, kBadToken);
        case AuthOutcome::NotAuth:
          co_return co_await write_all(socket, kAuthenticateFirst);
      }
    }
    auto answer = co_await execute(text, *ctx);
    Reply reply = answer ? std::move(*answer) : Reply::ok(fmt::format("error: {}", answer.error()));
    reply.text += kReplyEnd;
    if (auto w = co_await write_all(socket, reply.text); !w) co_return w;
    if (reply.close) co_return Done{};
  }
}

void spawn(const asio::any_io_executor& ex, config::SocketAddr addr, Context ctx) {
  asio::co_spawn(
      ex,
      [](config::SocketAddr addr, Context ctx) -> asio::awaitable<void> {
        auto done = co_await serve(addr, std::move(ctx));
        if (!done) OSTREL_ERROR(kTarget, fmt::format("RCON listener stopped: {}", done.error().message()));
      }(addr, std::move(ctx)),
      asio::detached);
}

bool start(const asio::any_io_executor& ex, const std::optional<config::RconConfig>& rcon,
           std::vector<ostrel_core::proto::ModEntry> mods, std::shared_ptr<transport::endpoint::Shared> hub,
           std::function<void()> on_stop) {
  if (!rcon) return false;
  auto ctx = std::make_shared<RconContext>();
  ctx->token = rcon->token;
  ctx->mods = std::move(mods);
  ctx->hub = std::move(hub);
  ctx->on_stop = std::move(on_stop);
  spawn(ex, rcon->bind_addr, std::move(ctx));
  return true;
}

}  // namespace ostrel_server::rcon
