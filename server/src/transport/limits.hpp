#pragma once
// The numbers that bound what one client can make the server hold or wait for, in one place.
// (A player's key set has its own caps beside the key set: keyset::kMaxActiveKeys, kMaxKeys.)
//
// An address is an IPv4 address, or the /64 prefix of an IPv6 one (what one host is usually
// given). A connection is half-open until its handshake completes; it is unproven when its
// Initial carried no Retry token, so its source address may be forged.
//
//   new Initial ──> all connections >= kMaxConnections ........... refused (CONNECTION_REFUSED)
//               ──> token present: valid ─> proven; invalid ........ refused (INVALID_TOKEN)
//               ──> no token and (half-open in all >= kRetryAbove
//                   or the address's unproven >= kMaxUnprovenPerAddress) ... Retry, nothing kept
//               ──> the address's connections >= kMaxPerAddress ..... refused (CONNECTION_REFUSED)
//               ──> admitted
//
// After the handshake a connection has kHelloWithin to send its first message and kWorldWithin
// to reach the world, both counted from the end of the handshake.

#include <chrono>
#include <cstddef>

namespace ostrel_server::transport::limits {

// QUIC
inline constexpr std::chrono::milliseconds kIdleTimeout{30'000};       // a silent peer is dropped
inline constexpr std::chrono::milliseconds kKeepAlive{10'000};         // a ping after this much quiet
inline constexpr std::chrono::milliseconds kHandshakeTimeout{10'000};  // a handshake not done by then fails
inline constexpr std::size_t kMaxConnections = 4096;                   // every address together
inline constexpr std::size_t kMaxPerAddress = 8;                       // connections of one address
inline constexpr std::size_t kMaxUnprovenPerAddress = 4;               // half-open without a Retry token
inline constexpr std::size_t kRetryAbove = 64;                         // half-open in all: Retry for all
inline constexpr std::chrono::milliseconds kRetryTokenLifetime{10'000};

// Login
inline constexpr std::chrono::milliseconds kHelloWithin{5'000};    // stream opened and Hello read
inline constexpr std::chrono::milliseconds kWorldWithin{120'000};  // JoinWorld accepted

// Frames: a payload buffer grows as its bytes arrive, from the first step, doubling, by at most
// the grow step at a time; a header alone holds the first step, whatever length it declares.
inline constexpr std::size_t kFrameFirstStep = 1024;
inline constexpr std::size_t kFrameGrowStep = 64 * 1024;

}  // namespace ostrel_server::transport::limits
