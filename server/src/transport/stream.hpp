#pragma once
// The asynchronous byte stream that frames travel on. A connection's QUIC stream and the
// in-memory streams of tests both have this shape, so the frame code and the reader task are
// written once against it.
//
// A receive half has   read_some(std::span<std::uint8_t>) -> awaitable<expected<size_t, IoError>>
//   returning at least one byte, or 0 at the clean end of the stream.
// A send half has      write_some(std::span<const std::uint8_t>) -> awaitable<expected<size_t, IoError>>
//   returning how many bytes it took (0 only when it can take no more, ever).

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <system_error>

#include <asio/awaitable.hpp>

#include "base/error.hpp"

namespace ostrel_server::transport {

// The kinds of stream failure that callers tell apart (the code of a stream's IoError).
enum class StreamErrc {
  UnexpectedEof = 1,  // the stream ended inside a frame, or between frames
  WriteZero,          // the stream took no byte of a write
  Reset,              // the peer reset or stopped the stream
  Closed,             // the connection was closed (by either side) or timed out
  Refused,            // the connection never reached an open stream
};

const std::error_category& stream_category();

inline std::error_code make_error_code(StreamErrc e) { return {static_cast<int>(e), stream_category()}; }

// "early eof", of kind UnexpectedEof.
ostrel_core::IoError early_eof();

template <class S>
concept AsyncReadStream = requires(S& s, std::span<std::uint8_t> buf) {
  { s.read_some(buf) } -> std::same_as<asio::awaitable<std::expected<std::size_t, ostrel_core::IoError>>>;
};

template <class S>
concept AsyncWriteStream = requires(S& s, std::span<const std::uint8_t> buf) {
  { s.write_some(buf) } -> std::same_as<asio::awaitable<std::expected<std::size_t, ostrel_core::IoError>>>;
};

}  // namespace ostrel_server::transport

template <>
struct std::is_error_code_enum<ostrel_server::transport::StreamErrc> : std::true_type {};
