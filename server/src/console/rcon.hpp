#pragma once
// The remote console: a line protocol on loopback TCP for the operator on the same machine.
//
// Session states:
//   Greeted       -> Authenticated  [a line "auth <token>" whose token matches]
//   Greeted       -> Ended          [any other non-blank line; a wrong token]
//   Authenticated -> Authenticated  [a command; its reply ends in "\n.\n"]
//   any           -> Ended          [end of stream, a line too long, a reply that closes, an I/O error]
// Blank lines are skipped in every state and never answered.
//
// The listener and the sessions are coroutines on the network runtime: nothing here blocks a
// thread (the identity registry is awaited through its asynchronous lock; everything else a
// command touches is a short lock or an atomic).

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/ip/tcp.hpp>

#include "base/error.hpp"
#include "proto/records/content.hpp"
#include "start/config.hpp"

namespace ostrel_server::transport::endpoint {
class Shared;
}

namespace ostrel_server::rcon {

inline constexpr std::string_view kTarget = "ostrel_server::rcon";

inline constexpr std::string_view kGreeting = "ostrel rcon. first line must be: auth <token>\n.\n";
inline constexpr std::string_view kAuthenticated = "ok: authenticated\n.\n";
inline constexpr std::string_view kBadToken = "error: bad token\n.\n";
inline constexpr std::string_view kAuthenticateFirst = "error: authenticate first: auth <token>\n.\n";
inline constexpr std::string_view kReplyEnd = "\n.\n";
inline constexpr std::string_view kLineTooLong = "RCON line too long";

// How often the listener looks at the stop flag.
inline constexpr std::chrono::milliseconds kStopPoll{100};

// What every session acts on; shared by the listener and all sessions.
struct RconContext {
  std::string token;                                  // the configured rcon.token
  std::vector<ostrel_core::proto::ModEntry> mods;     // the loaded mods, in load order
  std::shared_ptr<transport::endpoint::Shared> hub;   // players, identities, allowlist, control
  std::function<void()> on_stop;                      // after `stop`: wakes main's wait; may be empty
};
using Context = std::shared_ptr<const RconContext>;

// One command's answer, without the terminator.
struct Reply {
  std::string text;
  bool close = false;  // end the session once sent

  static Reply ok(std::string text) { return Reply{std::move(text), false}; }
  bool operator==(const Reply&) const = default;
};

// One authenticated line, trimmed and not empty: its reply, or the error text sent after
// "error: ". Awaits the identity registry's lock for kick, rename and rebind.
asio::awaitable<std::expected<Reply, std::string>> execute(std::string_view line, const RconContext& ctx);

// An IPv4 address in 127.0.0.0/8 or exactly ::1; an IPv4-mapped IPv6 address is not loopback.
bool is_loopback(const asio::ip::address& address);

// A listening socket on `addr`, refused before binding unless the address is loopback.
[[nodiscard]] std::expected<asio::ip::tcp::acceptor, ostrel_core::IoError> bind_listener(
    const asio::any_io_executor& ex, const config::SocketAddr& addr);

// Accepts until the stop flag is seen (success; the socket closes, running sessions go on) or
// an accept fails. Each loopback peer gets a detached session; any other peer is dropped unread.
asio::awaitable<std::expected<void, ostrel_core::IoError>> accept_loop(asio::ip::tcp::acceptor acceptor, Context ctx,
                                                                      std::chrono::milliseconds poll = kStopPoll);

// Binds `addr`, logs "RCON listening on loopback" and runs the accept loop.
asio::awaitable<std::expected<void, ostrel_core::IoError>> serve(config::SocketAddr addr, Context ctx,
                                                                std::chrono::milliseconds poll = kStopPoll);

// One connection, from the greeting to its end: success when the peer closes, authentication
// fails or a reply closes; the error of a read or write, or "RCON line too long".
asio::awaitable<std::expected<void, ostrel_core::IoError>> session(Context ctx, asio::ip::tcp::socket socket);

// Completes once the control block's stop flag is set, looking every `poll`.
asio::awaitable<void> wait_for_stop(const RconContext& ctx, std::chrono::milliseconds poll = kStopPoll);

// Runs serve detached on `ex`, logging a failure at ERROR "RCON listener stopped: {}".
void spawn(const asio::any_io_executor& ex, config::SocketAddr addr, Context ctx);

// Start-up's console step: with an `rcon` table, the context (its token, the mod list, the hub
// and the stop's wake-up) and its listener spawned on `ex`; without one nothing. Answers whether
// a listener was spawned.
bool start(const asio::any_io_executor& ex, const std::optional<config::RconConfig>& rcon,
           std::vector<ostrel_core::proto::ModEntry> mods, std::shared_ptr<transport::endpoint::Shared> hub,
           std::function<void()> on_stop);

}  // namespace ostrel_server::rcon
