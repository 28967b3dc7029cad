#include "proto/server_message.hpp"

#include <type_traits>

#include <fmt/format.h>

#include "proto/codec.hpp"

namespace ostrel_core::proto {

template std::expected<ServerMessage, ProtocolError> decode_message<ServerMessage>(
    std::span<const std::uint8_t> bytes);

std::string_view server_message_name(const ServerMessage& m) {
  return server_message_name(static_cast<std::uint32_t>(m.index()));
}

Frame encode(const ServerMessage& m) {
  return std::visit([](const auto& message) { return encode(message); }, m);
}

std::expected<ServerMessage, ProtocolError> decode_server(std::span<const std::uint8_t> bytes) {
  return decode_message<ServerMessage>(bytes);
}

std::expected<ServerMessage, ProtocolError> decode_server(const Frame& frame) {
  return decode_server(frame.payload());
}

namespace {

template <class T>
constexpr std::uint32_t kIndexOf = [] {
  std::uint32_t index = 0;
#define OSTREL_PROTO_INDEX(N, U) \
  if (std::is_same_v<T, server::U>) index = N;
  OSTREL_SERVER_MESSAGES(OSTREL_PROTO_INDEX)
#undef OSTREL_PROTO_INDEX
  return index;
}();

}  // namespace

// Reads only T: the same checks as decode_server, in its order, without the variant.
template <class T>
std::expected<T, ProtocolError> decode_server_as(const Frame& frame) {
  const std::span<const std::uint8_t> bytes = frame.payload();
  if (auto fits = check_message_size(bytes.size()); !fits) return std::unexpected(std::move(fits.error()));
  Reader r(bytes);
  const std::uint32_t index = r.u32();
  if (!r.ok()) return std::unexpected(ProtocolError::malformed(r.code()));
  if (index != kIndexOf<T>) {
    return std::unexpected(ProtocolError::invalid(
        fmt::format("the frame holds {}, not {}", server_message_name(index), server_message_name(kIndexOf<T>))));
  }
  return decode_exact<T>(bytes.last(r.remaining()));
}

#define OSTREL_PROTO_DECODE_AS(N, T) \
  template std::expected<server::T, ProtocolError> decode_server_as<server::T>(const Frame&);
OSTREL_SERVER_MESSAGES(OSTREL_PROTO_DECODE_AS)
#undef OSTREL_PROTO_DECODE_AS

}  // namespace ostrel_core::proto
