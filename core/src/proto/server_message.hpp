#pragma once
// ServerMessage: the variant of all 58 server messages, for reading frames back (test clients,
// tests, fuzzers, benchmarks). The server itself never builds one: it encodes each message where
// it makes it (proto/server.hpp).

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>
#include <utility>
#include <variant>

#include "proto/frame.hpp"
#include "proto/message_list.hpp"
#include "proto/protocol_error.hpp"
#include "proto/server.hpp"

namespace ostrel_core::proto {

struct ServerList;  // names the server message list
#define OSTREL_PROTO_AT(N, T) OSTREL_PROTO_MESSAGE_AT(ServerList, server, N, T)
OSTREL_SERVER_MESSAGES(OSTREL_PROTO_AT)
#undef OSTREL_PROTO_AT

// Variant order is the wire index: ServerHello is 0, SetHover is 57.
using ServerMessage = MessageVariant<ServerList, kServerMessages>;

std::string_view server_message_name(const ServerMessage& m);

// The frame of whichever message `m` holds: the same bytes as that message's own encoder.
[[nodiscard]] Frame encode(const ServerMessage& m);

// A client-side reader of server messages: the same rules as decode_client.
[[nodiscard]] std::expected<ServerMessage, ProtocolError> decode_server(std::span<const std::uint8_t> bytes);

// decode_server of a frame's payload.
[[nodiscard]] std::expected<ServerMessage, ProtocolError> decode_server(const Frame& frame);

// decode_server of a frame that must hold a T: Invalid when it holds another message. Made once
// per message in server_message.cpp, so a reader of one message needs neither the variant nor
// the codec.
template <class T>
[[nodiscard]] std::expected<T, ProtocolError> decode_server_as(const Frame& frame);
#define OSTREL_PROTO_DECODE_AS(N, T) \
  extern template std::expected<server::T, ProtocolError> decode_server_as<server::T>(const Frame&);
OSTREL_SERVER_MESSAGES(OSTREL_PROTO_DECODE_AS)
#undef OSTREL_PROTO_DECODE_AS

// The one instance of the decoder, in server_message.cpp.
extern template std::expected<ServerMessage, ProtocolError> decode_message<ServerMessage>(
    std::span<const std::uint8_t> bytes);

}  // namespace ostrel_core::proto
