#pragma once
// BLAKE3 in plain hash mode with 32 bytes of output: identities, key commitments, the certificate
// fingerprint and content hashes. A small portable implementation (no SIMD).

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace ostrel_core::blake3 {

inline constexpr std::size_t kDigestBytes = 32;
inline constexpr std::size_t kBlockBytes = 64;
inline constexpr std::size_t kChunkBytes = 1024;

using Digest = std::array<std::uint8_t, kDigestBytes>;

// Incremental hasher: any split of the same bytes into update() calls gives the same digest.
class Hasher {
 public:
  Hasher();

  Hasher& update(std::span<const std::uint8_t> bytes);
  Hasher& update(std::string_view text);
  // Does not change the hasher: more bytes may follow and finalize() may be called again.
  [[nodiscard]] Digest finalize() const;

 private:
  struct ChunkState {
    std::array<std::uint32_t, 8> cv;       // chaining value in
    std::uint64_t counter = 0;             // index of this chunk in the input
    std::array<std::uint8_t, kBlockBytes> block{};
    std::uint8_t block_len = 0;            // bytes buffered in block, 0..64
    std::uint8_t blocks_compressed = 0;    // full blocks of this chunk already compressed, 0..15
  };

  void push_chunk_cv(const std::array<std::uint32_t, 8>& cv, std::uint64_t total_chunks);
  static void reset_chunk(ChunkState& c, std::uint64_t counter);

  ChunkState chunk_;
  // Chaining values of completed subtrees, at most one per level (54 levels cover 2^64 bytes).
  std::array<std::array<std::uint32_t, 8>, 54> stack_{};
  std::uint8_t stack_len_ = 0;
};

// The digest of `bytes` in one call.
[[nodiscard]] Digest hash(std::span<const std::uint8_t> bytes);
[[nodiscard]] Digest hash(std::string_view text);

}  // namespace ostrel_core::blake3
