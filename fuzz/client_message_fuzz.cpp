// Bytes from a client: decode, validate, and when both pass, encode again and decode the result.
#include <cstdint>
#include <cstdlib>

#include "proto/client.hpp"
#include "proto/codec.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ostrel_core::proto;
  auto m = decode_client({data, size});
  if (!m) {
    (void)m.error().message();
    return 0;
  }
  auto v = validate_client_message(*m);
  if (!v) (void)v.error().message();
  (void)client_message_name(*m);
  // A decoded message must survive its own encoding.
  // (Values may differ only by NaN floats, which compare unequal.)
  if (!decode_client(encode(*m))) std::abort();
  return 0;
}
