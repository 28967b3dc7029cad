#include "proto/server.hpp"

#include "proto/codec.hpp"

namespace ostrel_core::proto {
namespace {

OSTREL_PROTO_NAMES(kServerNames, OSTREL_SERVER_MESSAGES);
static_assert(std::size(kServerNames) == kServerMessages);

// The index as its one-byte varint, then the fields.
static_assert(kServerMessages <= 0x80, "every index is a one-byte varint");
template <class T>
Frame frame_of(std::uint8_t index, const T& m) {
  std::vector<std::uint8_t> out;
  Writer w(out);
  w.varint(index);
  write_value(w, m);
  return Frame(std::move(out));
}

}  // namespace

std::string_view server_message_name(std::uint32_t index) {
  return index < kServerMessages ? kServerNames[index] : std::string_view("?");
}

#define OSTREL_PROTO_ENCODER(N, T) \
  Frame encode(const server::T& m) { return frame_of((N), m); }
OSTREL_SERVER_MESSAGES(OSTREL_PROTO_ENCODER)
#undef OSTREL_PROTO_ENCODER

}  // namespace ostrel_core::proto
