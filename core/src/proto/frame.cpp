#include "proto/frame.hpp"

#include "proto/server.hpp"

namespace ostrel_core::proto {

std::string_view Frame::name() const { return server_message_name(index()); }

std::expected<void, ProtocolError> Frame::check() const {
  if (payload_.size() > kMaxMessageBytes) return std::unexpected(ProtocolError::too_large(payload_.size()));
  return {};
}

}  // namespace ostrel_core::proto
