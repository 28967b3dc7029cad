#include "proto/frame.hpp"

#include "proto/server.hpp"

namespace ostrel_core::proto {

std::string_view Frame::name() const { return server_message_name(index()); }

std::expected<void, ProtocolError> Frame::check() const { return check_message_size(payload_.size()); }

}  // namespace ostrel_core::proto
