#include "transport/frame.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "base/assert.hpp"

namespace ostrel_server::transport::frame {

FrameError FrameError::protocol(ostrel_core::proto::ProtocolError e) {
  FrameError f(FrameErrorKind::Protocol);
  f.protocol_ = std::move(e);
  return f;
}

FrameError FrameError::stream(ostrel_core::IoError e) {
  FrameError f(FrameErrorKind::Stream);
  f.source_ = ostrel_core::make_source(e);
  f.io_ = std::move(e);
  return f;
}

FrameError FrameError::declared_too_large(std::size_t declared) {
  FrameError f(FrameErrorKind::DeclaredTooLarge);
  f.declared_ = declared;
  return f;
}

FrameError FrameError::declared_empty() { return FrameError(FrameErrorKind::DeclaredEmpty); }

bool FrameError::is_early_eof() const {
  return kind_ == FrameErrorKind::Stream && io_->code() == make_error_code(StreamErrc::UnexpectedEof);
}

std::string FrameError::message() const {
  switch (kind_) {
    case FrameErrorKind::Protocol: return protocol_->message();
    case FrameErrorKind::Stream: return "connection stream failed";
    case FrameErrorKind::DeclaredTooLarge:
      return fmt::format("peer declared a {}-byte message, over the {}-byte limit", declared_, kMaxPayloadBytes);
    case FrameErrorKind::DeclaredEmpty: return "peer declared an empty message";
  }
  return "connection stream failed";
}

std::array<std::uint8_t, kHeaderBytes> header_for(std::size_t n) {
  OSTREL_ASSERT(n <= kMaxPayloadBytes);
  const auto v = static_cast<std::uint32_t>(n);
  return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v)};
}

std::expected<std::size_t, FrameError> parse_header(std::span<const std::uint8_t, kHeaderBytes> h) {
  const std::uint32_t n = (std::uint32_t{h[0]} << 24) | (std::uint32_t{h[1]} << 16) | (std::uint32_t{h[2]} << 8) |
                          std::uint32_t{h[3]};
  if (n == 0) return std::unexpected(FrameError::declared_empty());
  if (n > kMaxPayloadBytes) return std::unexpected(FrameError::declared_too_large(n));
  return std::size_t{n};
}

std::size_t grown_size(std::size_t declared, std::size_t held) {
  const std::size_t step = std::clamp(held, limits::kFrameFirstStep, limits::kFrameGrowStep);
  return std::min(declared, held + step);
}

}  // namespace ostrel_server::transport::frame
