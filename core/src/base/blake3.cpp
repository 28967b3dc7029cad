#include "base/blake3.hpp"

#include <cstring>

namespace ostrel_core::blake3 {
namespace {

// Domain flags of the compression function.
constexpr std::uint32_t kChunkStart = 1;
constexpr std::uint32_t kChunkEnd = 2;
constexpr std::uint32_t kParent = 4;
constexpr std::uint32_t kRoot = 8;

constexpr std::array<std::uint32_t, 8> kIv = {0x6A09E667, 0xBB67AE85, 0x3C6EF372, 0xA54FF53A,
                                              0x510E527F, 0x9B05688C, 0x1F83D9AB, 0x5BE0CD19};

// Message word order for each of the seven rounds: the permutation
// 2 6 3 10 7 0 4 13 1 11 12 5 9 14 15 8 applied once more per round.
constexpr std::uint8_t kSchedule[7][16] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
    {2, 6, 3, 10, 7, 0, 4, 13, 1, 11, 12, 5, 9, 14, 15, 8},
    {3, 4, 10, 12, 13, 2, 7, 14, 6, 5, 9, 0, 11, 15, 8, 1},
    {10, 7, 12, 9, 14, 3, 13, 15, 4, 0, 11, 2, 5, 8, 1, 6},
    {12, 13, 9, 11, 15, 10, 14, 8, 7, 2, 5, 3, 0, 1, 6, 4},
    {9, 14, 11, 5, 8, 12, 15, 1, 13, 3, 0, 10, 2, 6, 4, 7},
    {11, 15, 5, 0, 1, 9, 8, 6, 14, 10, 2, 12, 3, 4, 7, 13},
};

using Cv = std::array<std::uint32_t, 8>;

constexpr std::uint32_t rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline void g(std::uint32_t* s, int a, int b, int c, int d, std::uint32_t mx, std::uint32_t my) {
  s[a] = s[a] + s[b] + mx;
  s[d] = rotr(s[d] ^ s[a], 16);
  s[c] = s[c] + s[d];
  s[b] = rotr(s[b] ^ s[c], 12);
  s[a] = s[a] + s[b] + my;
  s[d] = rotr(s[d] ^ s[a], 8);
  s[c] = s[c] + s[d];
  s[b] = rotr(s[b] ^ s[c], 7);
}

inline std::uint32_t load_le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline void store_le32(std::uint32_t v, std::uint8_t* p) {
  for (std::size_t b = 0; b < 4; ++b) p[b] = static_cast<std::uint8_t>(v >> (8 * b));
}

// The full 16-word output of the compression function.
void compress(const Cv& cv, const std::uint8_t block[kBlockBytes], std::uint32_t block_len,
              std::uint64_t counter, std::uint32_t flags, std::uint32_t out[16]) {
  std::uint32_t m[16];
  for (int i = 0; i < 16; ++i) m[i] = load_le32(block + 4 * i);
  std::uint32_t s[16] = {cv[0],  cv[1],  cv[2],  cv[3],
                         cv[4],  cv[5],  cv[6],  cv[7],
                         kIv[0], kIv[1], kIv[2], kIv[3],
                         static_cast<std::uint32_t>(counter),
                         static_cast<std::uint32_t>(counter >> 32),
                         block_len,
                         flags};
  for (const auto& r : kSchedule) {
    g(s, 0, 4, 8, 12, m[r[0]], m[r[1]]);
    g(s, 1, 5, 9, 13, m[r[2]], m[r[3]]);
    g(s, 2, 6, 10, 14, m[r[4]], m[r[5]]);
    g(s, 3, 7, 11, 15, m[r[6]], m[r[7]]);
    g(s, 0, 5, 10, 15, m[r[8]], m[r[9]]);
    g(s, 1, 6, 11, 12, m[r[10]], m[r[11]]);
    g(s, 2, 7, 8, 13, m[r[12]], m[r[13]]);
    g(s, 3, 4, 9, 14, m[r[14]], m[r[15]]);
  }
  for (int i = 0; i < 8; ++i) {
    out[i] = s[i] ^ s[i + 8];
    out[i + 8] = s[i + 8] ^ cv[i];
  }
}

Cv compress_cv(const Cv& cv, const std::uint8_t block[kBlockBytes], std::uint32_t block_len,
               std::uint64_t counter, std::uint32_t flags) {
  std::uint32_t out[16];
  compress(cv, block, block_len, counter, flags, out);
  Cv r;
  std::memcpy(r.data(), out, sizeof(r));
  return r;
}

// A node whose compression is still to be done: the last block of a chunk, or a parent. Its
// chaining value feeds the tree; with the root flag it gives the digest.
struct Output {
  Cv cv;
  std::uint8_t block[kBlockBytes];
  std::uint32_t block_len;
  std::uint64_t counter;
  std::uint32_t flags;

  Cv chaining_value() const { return compress_cv(cv, block, block_len, counter, flags); }
  Digest root() const {
    std::uint32_t out[16];
    compress(cv, block, block_len, 0, flags | kRoot, out);
    Digest d;
    for (std::size_t i = 0; i < 8; ++i) store_le32(out[i], d.data() + 4 * i);
    return d;
  }
};

Output parent_output(const Cv& left, const Cv& right) {
  Output o{kIv, {}, kBlockBytes, 0, kParent};
  for (std::size_t i = 0; i < 8; ++i) {
    store_le32(left[i], o.block + 4 * i);
    store_le32(right[i], o.block + 32 + 4 * i);
  }
  return o;
}

}  // namespace

Hasher::Hasher() { reset_chunk(chunk_, 0); }

void Hasher::reset_chunk(ChunkState& c, std::uint64_t counter) {
  c.cv = kIv;
  c.counter = counter;
  c.block_len = 0;
  c.blocks_compressed = 0;
}

// Merges completed subtrees: after chunk n (1-based total_chunks), one merge per trailing zero bit.
void Hasher::push_chunk_cv(const std::array<std::uint32_t, 8>& cv, std::uint64_t total_chunks) {
  Cv merged = cv;
  while ((total_chunks & 1) == 0) {
    merged = parent_output(stack_[--stack_len_], merged).chaining_value();
    total_chunks >>= 1;
  }
  stack_[stack_len_++] = merged;
}

Hasher& Hasher::update(std::span<const std::uint8_t> bytes) {
  const std::uint8_t* p = bytes.data();
  std::size_t n = bytes.size();
  while (n > 0) {
    // A full chunk is closed only once more input arrives: the last chunk may be the root.
    if (chunk_.blocks_compressed * kBlockBytes + chunk_.block_len == kChunkBytes) {
      std::uint32_t flags = kChunkEnd | (chunk_.blocks_compressed == 0 ? kChunkStart : 0);
      Cv cv = compress_cv(chunk_.cv, chunk_.block.data(), chunk_.block_len, chunk_.counter, flags);
      std::uint64_t next = chunk_.counter + 1;
      push_chunk_cv(cv, next);
      reset_chunk(chunk_, next);
    }
    // Likewise a full block is compressed only when more bytes follow it.
    if (chunk_.block_len == kBlockBytes) {
      std::uint32_t flags = chunk_.blocks_compressed == 0 ? kChunkStart : 0;
      chunk_.cv = compress_cv(chunk_.cv, chunk_.block.data(), kBlockBytes, chunk_.counter, flags);
      ++chunk_.blocks_compressed;
      chunk_.block_len = 0;
    }
    std::size_t take = std::min<std::size_t>(kBlockBytes - chunk_.block_len, n);
    std::memcpy(chunk_.block.data() + chunk_.block_len, p, take);
    chunk_.block_len = static_cast<std::uint8_t>(chunk_.block_len + take);
    p += take;
    n -= take;
  }
  return *this;
}

Hasher& Hasher::update(std::string_view text) {
  return update({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

Digest Hasher::finalize() const {
  Output o{chunk_.cv, {}, chunk_.block_len, chunk_.counter,
           kChunkEnd | (chunk_.blocks_compressed == 0 ? kChunkStart : 0u)};
  std::memcpy(o.block, chunk_.block.data(), chunk_.block_len);
  for (std::size_t i = stack_len_; i > 0; --i) o = parent_output(stack_[i - 1], o.chaining_value());
  return o.root();
}

Digest hash(std::span<const std::uint8_t> bytes) { return Hasher().update(bytes).finalize(); }

Digest hash(std::string_view text) { return Hasher().update(text).finalize(); }

}  // namespace ostrel_core::blake3
