#include "proto/server.hpp"

#include "proto/codec.hpp"

namespace ostrel_core::proto {
namespace {

constexpr std::string_view kServerNames[] = {
#define OSTREL_PROTO_NAME(N, T) #T,
    OSTREL_SERVER_MESSAGES(OSTREL_PROTO_NAME)
#undef OSTREL_PROTO_NAME
};
static_assert(std::size(kServerNames) == kServerMessages);
// Each entry's index is its place in the list.
#define OSTREL_PROTO_PLACE(N, T) static_assert(kServerNames[N] == #T);
OSTREL_SERVER_MESSAGES(OSTREL_PROTO_PLACE)
#undef OSTREL_PROTO_PLACE

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
