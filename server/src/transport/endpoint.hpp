#pragma once
// What brackets every client connection: binding the endpoint, the accept loop that starts one
// task per connection and logs how it ended, the login's deadlines, and the orderly close after
// the last message.
//
// Deadlines, counted from the end of the handshake on the endpoint's clock:
//   handshake done ──> Hello read within limits::kHelloWithin        [armed by the accept loop]
//   hello_received ──> in the world within limits::kWorldWithin      [the connection task calls it]
//   entered_world  ──> none
// A connection that misses one is closed with code 0 and the deadline's reason, logged at DEBUG.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <string>

#include <asio/awaitable.hpp>

#include "transport/frame.hpp"
#include "transport/quic/endpoint.hpp"

namespace ostrel_server::transport::endpoint {

// The task of one established connection; it accepts the stream itself.
using Handler = std::function<asio::awaitable<std::expected<void, frame::FrameError>>(quic::Connection)>;

inline constexpr std::uint64_t kShutdownCode = 0;
inline constexpr std::string_view kShutdownReason = "server shutting down";
inline constexpr std::string_view kDisconnectedReason = "disconnected";
inline constexpr std::chrono::milliseconds kFlushLimit{2000};
inline constexpr std::string_view kNoHelloReason = "no Hello in time";
inline constexpr std::string_view kNoWorldReason = "login took too long";

// Binds the server endpoint at `addr` (the caller is on the network runtime).
[[nodiscard]] std::expected<quic::Endpoint, quic::EndpointError> bind(const asio::any_io_executor& ex,
                                                                      const asio::ip::udp::endpoint& addr,
                                                                      const cert::ServerCert& cert,
                                                                      const quic::Settings& settings = {});

// Accepts connections until the endpoint is closed or one arrives while `stop` is set (it is
// refused), then closes the endpoint with code 0 "server shutting down" and returns once every
// connection and its task have finished. Runs on the endpoint's executor.
asio::awaitable<void> accept_loop(quic::Endpoint& endpoint, Handler handler, const std::atomic<bool>& stop);

// The client's stream. A connection that closes first ends with a Stream error: of kind
// "unexpected end of file" when either side closed it with an application code or the peer
// closed it at the transport level.
asio::awaitable<std::expected<quic::Stream, frame::FrameError>> accept_stream(quic::Connection& conn);

// The connection's first message has been read: it now has until the login's deadline to enter
// the world.
void hello_received(quic::Connection& conn);
// The connection's player is in the world: no deadline any more.
void entered_world(quic::Connection& conn);

// Finishes the stream, waits at most 2 s for the peer to acknowledge everything, then closes
// the connection with code 0 "disconnected". Never fails.
asio::awaitable<void> flush_and_close(quic::Stream& stream, quic::Connection& conn);

}  // namespace ostrel_server::transport::endpoint
