#pragma once
// The connection task: one client connection from the end of its handshake to its close. It
// drives the login session with every client message, puts the player in the hub when the
// session enters the world, streams chunks and summaries around the player, forwards broadcasts
// and what the hub holds for the player, and is the only writer of the connection's stream.
//
//   Started        stream accepted, reader running, session awaits Hello; no ticks
//   Authenticated  the player's id is known; ticks while content downloads are queued
//   In the world   slot claimed, streamer made; every 50 ms tick streams and drains the player
//   Ended          the client's stream ended, a frame error, a closing response, a kick, lag
//                  behind the broadcasts, a newer login of the same player, a write error or
//                  the hub's broadcasts closing; the slot is released exactly once

#include <asio/awaitable.hpp>
#include <expected>
#include <memory>

#include "transport/endpoint.hpp"
#include "transport/frame.hpp"
#include "transport/quic/endpoint.hpp"

namespace ostrel_server::transport::endpoint {

class Shared;

inline constexpr std::size_t kMaxSummaryRequests = 2;  // outstanding per connection
inline constexpr std::uint8_t kMaxViewH = 32;
inline constexpr std::uint8_t kMaxViewV = 16;
inline constexpr std::string_view kSupersededReason = "you joined from another connection";
inline constexpr std::string_view kLaggedReason = "client fell behind the broadcast stream";

// Serves one established connection until it ends: nothing on a clean end, else the frame
// error that ended it (a connection that closes before its stream opens is a Stream error).
asio::awaitable<std::expected<void, frame::FrameError>> serve(quic::Connection conn,
                                                              std::shared_ptr<Shared> hub);

// The accept loop's handler: serve over `hub`.
Handler serving(std::shared_ptr<Shared> hub);

}  // namespace ostrel_server::transport::endpoint
