#include "proto/protocol_error.hpp"

#include <fmt/format.h>

namespace ostrel_core::proto {

std::string ProtocolError::message() const {
  switch (kind_) {
    case ProtocolErrorKind::TooLarge:
      return fmt::format("message is {} bytes, over the {}-byte limit", count_, kMaxMessageBytes);
    case ProtocolErrorKind::Empty: return "message is empty";
    case ProtocolErrorKind::Malformed: return "malformed message";
    case ProtocolErrorKind::TrailingBytes: return fmt::format("message decoded with {} trailing bytes", count_);
    case ProtocolErrorKind::Invalid: return text_;
    case ProtocolErrorKind::FieldTooLong:
      return fmt::format("{} is {} bytes, over the {}-byte limit", text_, count_, limit_);
    case ProtocolErrorKind::Encode: return "could not encode message";
  }
  return "malformed message";
}

}  // namespace ostrel_core::proto
