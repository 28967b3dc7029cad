#include "proto/server_message.hpp"

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

}  // namespace ostrel_core::proto
