#include "transport/stream.hpp"

#include <string>

namespace ostrel_server::transport {
namespace {

class StreamCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "ostrel.stream"; }
  std::string message(int code) const override {
    switch (static_cast<StreamErrc>(code)) {
      case StreamErrc::UnexpectedEof: return "unexpected end of file";
      case StreamErrc::WriteZero: return "write zero";
      case StreamErrc::Reset: return "stream reset by peer";
      case StreamErrc::Closed: return "connection closed";
      case StreamErrc::Refused: return "connection refused";
    }
    return "stream error";
  }
};

}  // namespace

const std::error_category& stream_category() {
  static const StreamCategory category;
  return category;
}

ostrel_core::IoError early_eof() { return ostrel_core::IoError("early eof", make_error_code(StreamErrc::UnexpectedEof)); }

}  // namespace ostrel_server::transport
