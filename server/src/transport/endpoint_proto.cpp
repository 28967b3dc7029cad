#include "transport/endpoint_proto.hpp"

#include <variant>

namespace ostrel_server::transport::endpoint {

namespace proto = ostrel_core::proto;

proto::DisconnectReason frame_error_reason(const frame::FrameError& error) {
  return proto::disconnect::ProtocolViolation{error.message()};
}

ostrel_core::coords::ChunkPos chunk_of(const proto::Edit& edit) {
  return std::visit([](const auto& e) { return e.pos.chunk(); }, edit);
}

}  // namespace ostrel_server::transport::endpoint
