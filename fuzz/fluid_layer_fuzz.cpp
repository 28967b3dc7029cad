// Stored or received fluid payloads: a decoded layer must encode back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fluid/codec.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ostrel_core::fluid;
  std::vector<std::uint8_t> in(data, data + size);
  auto layer = codec::decode(in);
  if (!layer) {
    (void)layer.error().message();
    return 0;
  }
  // Runs of equal states may be split in the input, so compare through a second decode.
  auto again = codec::decode(codec::encode(*layer));
  if (!again) std::abort();
  if (codec::encode(*again) != codec::encode(*layer)) std::abort();
  return 0;
}
