#pragma once
// Frames: how one encoded message travels on a connection's stream.
//
//   OFFSET  SIZE  DESCRIPTION
//      0      4   N, the payload length, big-endian; 1 <= N <= 1048576
//      4      N   one message in the record encoding, every byte used
//
// Worked example: the one-byte message 09 is the frame 00 00 00 01 09. A header 00 10 00 01
// (1048577) is refused before any payload byte is read or any buffer allocated.
//
// A declared length reserves nothing beyond a first step: the payload buffer grows as its bytes
// arrive, from limits::kFrameFirstStep, doubling, by at most limits::kFrameGrowStep at a time. A
// header 00 10 00 00 followed by 10 bytes holds a buffer of 1 KiB, not 1 MiB.

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <asio/awaitable.hpp>

#include "base/assert.hpp"
#include "base/error.hpp"
#include "proto/frame.hpp"
#include "proto/protocol_error.hpp"
#include "transport/limits.hpp"
#include "transport/stream.hpp"

namespace ostrel_server::transport::frame {

inline constexpr std::size_t kHeaderBytes = 4;
inline constexpr std::size_t kMaxPayloadBytes = ostrel_core::proto::kMaxMessageBytes;

enum class FrameErrorKind : std::uint8_t {
  Protocol,          // the message failed to encode, decode, or is over the size limit
  Stream,            // the stream failed or ended early; io() says how
  DeclaredTooLarge,  // the peer's header named more than kMaxPayloadBytes
  DeclaredEmpty,     // the peer's header named 0 bytes
};

class FrameError {
 public:
  static FrameError protocol(ostrel_core::proto::ProtocolError e);
  static FrameError stream(ostrel_core::IoError e);
  static FrameError declared_too_large(std::size_t declared);
  static FrameError declared_empty();

  FrameErrorKind kind() const { return kind_; }
  // REQUIRES: kind() == Protocol.
  const ostrel_core::proto::ProtocolError& protocol_error() const {
    OSTREL_ASSERT(kind_ == FrameErrorKind::Protocol);
    return *protocol_;
  }
  // REQUIRES: kind() == Stream.
  const ostrel_core::IoError& io() const {
    OSTREL_ASSERT(kind_ == FrameErrorKind::Stream);
    return *io_;
  }
  // The length of DeclaredTooLarge.
  std::size_t declared() const { return declared_; }
  // True for a stream that ended inside a frame or between frames ("early eof").
  bool is_early_eof() const;

  std::string message() const;
  const ostrel_core::ErrorSource* source() const { return source_.get(); }

 private:
  explicit FrameError(FrameErrorKind kind) : kind_(kind) {}
  FrameErrorKind kind_;
  std::optional<ostrel_core::proto::ProtocolError> protocol_;
  std::optional<ostrel_core::IoError> io_;
  std::size_t declared_ = 0;
  ostrel_core::SourcePtr source_;  // the IoError of Stream
};

// The header of a payload of `n` bytes. REQUIRES: n <= kMaxPayloadBytes.
std::array<std::uint8_t, kHeaderBytes> header_for(std::size_t n);
// The checked payload length of a received header: DeclaredEmpty or DeclaredTooLarge.
std::expected<std::size_t, FrameError> parse_header(std::span<const std::uint8_t, kHeaderBytes> header);
// The size a payload buffer of `declared` bytes grows to when its first `held` bytes are read
// and more are due. REQUIRES: held < declared.
std::size_t grown_size(std::size_t declared, std::size_t held);

// Reads exactly buf.size() bytes; an end of stream before that is "early eof".
template <AsyncReadStream S>
asio::awaitable<std::expected<void, FrameError>> read_exact(S& stream, std::span<std::uint8_t> buf) {
  while (!buf.empty()) {
    auto n = co_await stream.read_some(buf);
    if (!n) co_return std::unexpected(FrameError::stream(std::move(n.error())));
    if (*n == 0) co_return std::unexpected(FrameError::stream(early_eof()));
    buf = buf.subspan(*n);
  }
  co_return std::expected<void, FrameError>{};
}

// Writes every byte of `buf`; a write that takes nothing is "write zero".
template <AsyncWriteStream S>
asio::awaitable<std::expected<void, FrameError>> write_all(S& stream, std::span<const std::uint8_t> buf) {
  while (!buf.empty()) {
    auto n = co_await stream.write_some(buf);
    if (!n) co_return std::unexpected(FrameError::stream(std::move(n.error())));
    if (*n == 0) {
      co_return std::unexpected(FrameError::stream(
          ostrel_core::IoError("write zero", make_error_code(StreamErrc::WriteZero))));
    }
    buf = buf.subspan(*n);
  }
  co_return std::expected<void, FrameError>{};
}

// Writes an already encoded message as one frame (header, then payload). A payload over the
// limit is not written: Protocol(TooLarge). Does not flush or finish the stream.
template <AsyncWriteStream S>
asio::awaitable<std::expected<void, FrameError>> write_encoded(S& stream, std::span<const std::uint8_t> payload) {
  if (auto fits = ostrel_core::proto::check_message_size(payload.size()); !fits) {
    co_return std::unexpected(FrameError::protocol(std::move(fits.error())));
  }
  const auto header = header_for(payload.size());
  if (auto r = co_await write_all(stream, header); !r) co_return r;
  co_return co_await write_all(stream, payload);
}

// Writes a server message encoded where it was made (a session response, a broadcast).
template <AsyncWriteStream S>
asio::awaitable<std::expected<void, FrameError>> write(S& stream, const ostrel_core::proto::Frame& frame) {
  co_return co_await write_encoded(stream, frame.payload());
}

// Reads one frame's header and returns its checked length.
template <AsyncReadStream S>
asio::awaitable<std::expected<std::size_t, FrameError>> read_header(S& stream) {
  std::array<std::uint8_t, kHeaderBytes> header{};
  if (auto r = co_await read_exact(stream, header); !r) co_return std::unexpected(std::move(r.error()));
  co_return parse_header(header);
}

// Reads the `declared` payload bytes that follow a header, growing the buffer as they arrive.
template <AsyncReadStream S>
asio::awaitable<std::expected<std::vector<std::uint8_t>, FrameError>> read_body(S& stream, std::size_t declared) {
  std::vector<std::uint8_t> payload;
  std::size_t held = 0;
  while (held < declared) {
    if (held == payload.size()) {
      const std::size_t size = grown_size(declared, held);
      payload.reserve(size);  // exactly: resize alone may double the capacity
      payload.resize(size);
    }
    auto n = co_await stream.read_some(std::span(payload).subspan(held));
    if (!n) co_return std::unexpected(FrameError::stream(std::move(n.error())));
    if (*n == 0) co_return std::unexpected(FrameError::stream(early_eof()));
    held += *n;
  }
  co_return payload;
}

// Reads one frame and returns its payload, unchecked beyond its length.
template <AsyncReadStream S>
asio::awaitable<std::expected<std::vector<std::uint8_t>, FrameError>> read_payload(S& stream) {
  auto n = co_await read_header(stream);
  if (!n) co_return std::unexpected(std::move(n.error()));
  co_return co_await read_body(stream, *n);
}

// Reads one frame and decodes one Msg from it. Msg's decode_message instance comes from its
// message set (proto/client.hpp) or, for any other record, from proto/codec.hpp.
template <class Msg, AsyncReadStream S>
asio::awaitable<std::expected<Msg, FrameError>> read(S& stream) {
  auto payload = co_await read_payload(stream);
  if (!payload) co_return std::unexpected(std::move(payload.error()));
  auto msg = ostrel_core::proto::decode_message<Msg>(*payload);
  if (!msg) co_return std::unexpected(FrameError::protocol(std::move(msg.error())));
  co_return std::move(*msg);
}

}  // namespace ostrel_server::transport::frame
