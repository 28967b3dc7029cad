// Feeds arbitrary bytes to the chunk blob decoder. The first byte picks the mode:
//   even: the rest is a blob as stored or received
//   odd:  the rest is a payload; it is compressed and given a version-1 header (bit 1 of the
//         first byte picks version 0 instead), so the fuzzer reaches the payload reader
// A blob that decodes must hold a valid chunk and survive another encode and decode unchanged.
// Seeds are in corpus/chunk_blob (tiny blobs whose payload counts are large); run with
// -malloc_limit_mb=8 so that any allocation past the decoder's bound fails the run:
//   chunk_blob_fuzz -malloc_limit_mb=8 fuzz/corpus/chunk_blob

#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "world/chunk.hpp"
#include "persist/records/codec.hpp"
#include "persist/compress.hpp"

namespace {

using namespace ostrel_core;

const persist::idmap::MaterialMap& shifted_map() {
  // Every world id w < 64 maps to runtime 63 - w, so translation is exercised both ways.
  static const persist::idmap::MaterialMap map = [] {
    persist::idmap::MaterialMap m;
    for (std::uint16_t r = 0; r < 64; ++r) {
      m.forward.push_back(static_cast<std::uint16_t>(63 - r));
      m.reverse[static_cast<std::uint16_t>(63 - r)] = r;
    }
    return m;
  }();
  return map;
}

void check(std::span<const std::uint8_t> blob, const persist::idmap::MaterialMap& map) {
  auto chunk = persist::codec::decode_chunk({1, 2, 3}, blob, map, {});
  if (!chunk) {
    (void)chunk.error().message();  // every error has a message
    return;
  }
  if (!chunk->check_invariants()) std::abort();
  auto again = persist::codec::encode_chunk(*chunk, map);
  if (!again) std::abort();
  auto back = persist::codec::decode_chunk({1, 2, 3}, *again, map, {});
  if (!back || !(back->to_parts() == chunk->to_parts())) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  std::span<const std::uint8_t> rest(data + 1, size - 1);
  std::vector<std::uint8_t> blob;
  if (mode & 1) {
    auto frame = persist::compress(rest);
    if (!frame) return 0;
    blob = {static_cast<std::uint8_t>((mode & 2) ? 0 : 1), 0};
    blob.insert(blob.end(), frame->begin(), frame->end());
  } else {
    blob.assign(rest.begin(), rest.end());
  }
  const auto identity = persist::idmap::MaterialMap::identity_map();
  check(blob, identity);
  check(blob, shifted_map());
  return 0;
}
