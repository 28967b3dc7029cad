#include "persist/records/codec.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <tuple>
#include <variant>
#include <vector>

#include "base/bitpack.hpp"
#include "persist/records/migrate.hpp"
#include "proto/codec.hpp"

namespace ostrel_core::persist::codec {

namespace {

using chunk::ChunkParts;

// The palette content as the payload writes it.
struct WholeContent {
  std::uint16_t material = 0;
  static constexpr auto fields() { return std::tuple{&WholeContent::material}; }
};
struct PartialContent {
  std::uint16_t material = 0;
  std::uint32_t mask = 0;
  static constexpr auto fields() { return std::tuple{&PartialContent::material, &PartialContent::mask}; }
};
struct MixedContent {
  std::uint16_t slot = 0;
  static constexpr auto fields() { return std::tuple{&MixedContent::slot}; }
};
using BlockContent = std::variant<WholeContent, PartialContent, MixedContent>;
using MixedCells = std::array<std::uint16_t, 27>;

BlockContent content_of(std::uint64_t word) {
  switch (block::word_kind(word)) {
    case block::Kind::Partial: return PartialContent{block::word_material(word), block::word_mask(word)};
    case block::Kind::Mixed: return MixedContent{block::word_material(word)};
    case block::Kind::Whole: break;
  }
  return WholeContent{block::word_material(word)};
}

std::uint64_t word_of(const BlockContent& c) {
  if (auto* w = std::get_if<WholeContent>(&c)) return block::whole_word(w->material);
  if (auto* p = std::get_if<PartialContent>(&c)) return block::partial_word(p->material, p->mask);
  return block::mixed_word(std::get<MixedContent>(c).slot);
}

// The most items each payload sequence may hold: a chunk has 4096 blocks (so at most 4096
// palette entries), 64 * 16 index words at the widest, and 65,536 mixed slots.
constexpr std::size_t kMaxPaletteEntries = chunk::kBlocks;
constexpr std::size_t kMaxIndexWords = bitpack::word_count(chunk::kBlocks, bitpack::kMaxWidth);
constexpr std::size_t kMaxMixedSlots = chunk::kMaxSlots;

// A sequence count whose items need at least `min_item_bytes` each: a count above `max_items`,
// or one the remaining bytes cannot hold, is refused before anything is allocated, so no payload
// makes the decoder reserve more than the largest chunk needs (3.4 MiB of mixed cells).
std::size_t bounded_count(proto::Reader& r, std::size_t min_item_bytes, std::size_t max_items) {
  const std::size_t n = r.count();
  if (r.ok() && (n > max_items || n > r.remaining() / min_item_bytes)) {
    r.fail(proto::DecodeCode::CountTooLarge);
    return 0;
  }
  return n;
}

// Eight 7-bit groups (the low bits of each byte of `x`, first byte lowest) as one 56-bit value.
std::uint64_t gather7(std::uint64_t x) {
  x &= 0x7F7F7F7F7F7F7F7Full;
  x = (x & 0x007F007F007F007Full) | ((x & 0x7F007F007F007F00ull) >> 1);  // 4 x 14 bits
  x = (x & 0x00003FFF00003FFFull) | ((x & 0x3FFF00003FFF0000ull) >> 2);  // 2 x 28 bits
  return (x & 0x000000000FFFFFFFull) | ((x & 0x0FFFFFFF00000000ull) >> 4);
}

std::uint64_t load_le64(const std::uint8_t* p) {
  std::uint64_t x = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&x, p, sizeof x);
  } else {
    for (int i = 7; i >= 0; --i) x = (x << 8) | p[i];
  }
  return x;
}

// `n` index words, u64 varints exactly as the record reader reads them, straight from `in`; the
// answer is the bytes used. Packed words are nearly all 9 or 10 bytes long, so the first eight
// bytes of each are gathered at once while ten or more bytes remain.
std::expected<std::size_t, proto::DecodeCode> read_words(std::span<const std::uint8_t> in, std::size_t n,
                                                         std::vector<std::uint64_t>& out) {
  out.resize(n);
  std::size_t at = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (in.size() - at >= 10) {
      const std::uint64_t x = load_le64(in.data() + at);
      const std::uint64_t ends = ~x & 0x8080808080808080ull;  // bytes without the "more" bit
      if (ends != 0) {
        const unsigned len = static_cast<unsigned>(std::countr_zero(ends) / 8) + 1;
        out[i] = gather7(len == 8 ? x : x & ((std::uint64_t{1} << (8 * len)) - 1));
        at += len;
        continue;
      }
      std::uint64_t v = gather7(x) | (static_cast<std::uint64_t>(in[at + 8] & 0x7F) << 56);
      if ((in[at + 8] & 0x80) == 0) {
        out[i] = v;
        at += 9;
        continue;
      }
      if (in[at + 9] > 0x01) return std::unexpected(proto::DecodeCode::VarintOverflow);
      out[i] = v | (static_cast<std::uint64_t>(in[at + 9]) << 63);
      at += 10;
      continue;
    }
    std::uint64_t v = 0;
    for (unsigned k = 0;; ++k) {
      if (at >= in.size()) return std::unexpected(proto::DecodeCode::Truncated);
      const std::uint8_t b = in[at++];
      if (k == 9) {
        if (b > 0x01) return std::unexpected(proto::DecodeCode::VarintOverflow);
        v |= static_cast<std::uint64_t>(b) << 63;
        break;
      }
      v |= static_cast<std::uint64_t>(b & 0x7F) << (7 * k);
      if ((b & 0x80) == 0) break;
    }
    out[i] = v;
  }
  return at;
}

// Every material id of the parts through `translate`; the first failure is answered.
template <class F>
std::expected<void, idmap::IdMapError> translate_materials(ChunkParts& parts, F translate) {
  for (auto& e : parts.palette) {
    const auto kind = block::word_kind(e.content);
    if (kind == block::Kind::Mixed) continue;
    auto id = translate(block::word_material(e.content));
    if (!id) return std::unexpected(id.error());
    e.content = kind == block::Kind::Whole ? block::whole_word(*id)
                                           : block::partial_word(*id, block::word_mask(e.content));
  }
  for (auto& cells : parts.mixed_cells) {
    for (auto& m : cells) {
      auto id = translate(m);
      if (!id) return std::unexpected(id.error());
      m = *id;
    }
  }
  return {};
}

CodecError error_with(CodecErrorKind kind, SourcePtr cause) {
  CodecError e{kind};
  e.cause = std::move(cause);
  return e;
}

// The mixed free list must name each slot once, below the table's end, and never a slot a live
// palette entry uses: any other list would later hand out a slot that is missing or in use.
std::optional<chunk::CorruptChunk> check_mixed_free(const ChunkParts& parts) {
  std::vector<bool> seen(parts.mixed_cells.size(), false);
  for (auto& e : parts.palette) {
    if (e.refs > 0 && block::word_kind(e.content) == block::Kind::Mixed) {
      const auto slot = block::word_material(e.content);
      if (slot < seen.size()) seen[slot] = true;  // in use: may not be free
    }
  }
  for (std::uint16_t slot : parts.mixed_free) {
    if (slot >= seen.size() || seen[slot]) {
      chunk::CorruptChunk c{chunk::CorruptChunkKind::BadMixedFree};
      c.mixed = slot;
      c.len = parts.mixed_cells.size();
      return c;
    }
    seen[slot] = true;
  }
  return std::nullopt;
}

std::expected<ChunkParts, CodecError> parts_of_payload(std::uint8_t version, std::span<const std::uint8_t> payload) {
  if (version == kFormatVersion) {
    auto parts = read_payload(payload, true);
    if (!parts) return std::unexpected(error_with(CodecErrorKind::Payload, make_source(parts.error())));
    return std::move(*parts);
  }
  auto parts = migrate::migrate_chunk(version, payload);
  if (!parts) {
    CodecError e = error_with(CodecErrorKind::Migration, make_source(parts.error()));
    e.value = version;
    return std::unexpected(std::move(e));
  }
  return std::move(*parts);
}

constexpr const char* kKindNames[] = {"Truncated", "FutureVersion", "MissingDictionary", "Decompress", "Compress",
                                      "Payload",   "Materials",     "Invalid",           "Migration"};

}  // namespace

std::string CodecError::message() const {
  switch (kind) {
    case CodecErrorKind::Truncated:
      return fmt::format("chunk blob is {} bytes, shorter than the {}-byte header", len, kBlobHeaderSize);
    case CodecErrorKind::FutureVersion:
      return fmt::format(
          "chunk blob claims format version {}, but this build understands at most {} — the world was "
          "written by a newer engine",
          value, kFormatVersion);
    case CodecErrorKind::MissingDictionary:
      return fmt::format("chunk blob references dictionary {}, which is not stored in this world", value);
    case CodecErrorKind::Decompress: return "could not decompress chunk blob";
    case CodecErrorKind::Compress: return "could not compress chunk blob";
    case CodecErrorKind::Payload: return "chunk blob payload is malformed";
    case CodecErrorKind::Materials: return "could not translate material ids";
    case CodecErrorKind::Invalid: return "chunk blob decoded but failed validation";
    case CodecErrorKind::Migration: return fmt::format("could not migrate chunk blob from format version {}", value);
  }
  return "chunk blob error";
}

std::string CodecError::debug() const {
  const char* name = kKindNames[static_cast<int>(kind)];
  switch (kind) {
    case CodecErrorKind::Truncated: return fmt::format("{} {{ len: {} }}", name, len);
    case CodecErrorKind::FutureVersion: return fmt::format("{} {{ found: {} }}", name, value);
    case CodecErrorKind::MissingDictionary: return fmt::format("{} {{ id: {} }}", name, value);
    case CodecErrorKind::Migration: return fmt::format("{} {{ from: {} }}", name, value);
    default: return fmt::format("{}({})", name, cause ? cause->message() : std::string());
  }
}

std::vector<std::uint8_t> write_payload(const ChunkParts& parts) {
  std::vector<std::uint8_t> out;
  out.reserve(64 + parts.palette.size() * 8 + parts.index_words.size() * 9 + parts.mixed_cells.size() * 40);
  proto::Writer w(out);
  w.varint(parts.palette.size());
  for (const auto& e : parts.palette) {
    proto::write_value(w, content_of(e.content));
    proto::write_value(w, e.refs);
  }
  proto::write_value(w, parts.index_width);
  proto::write_value(w, parts.index_words);
  w.varint(parts.mixed_cells.size());
  for (const auto& cells : parts.mixed_cells) proto::write_value(w, static_cast<const MixedCells&>(cells));
  proto::write_value(w, parts.mixed_free);
  return out;
}

std::expected<ChunkParts, proto::ProtocolError> read_payload(std::span<const std::uint8_t> payload,
                                                             bool has_mixed_free) {
  proto::Reader r(payload);
  ChunkParts parts;
  // Smallest encodings: a palette entry 3 bytes, a word 1, a mixed array 27, a free slot 1.
  std::size_t n = bounded_count(r, 3, kMaxPaletteEntries);
  parts.palette.reserve(n);
  for (std::size_t i = 0; i < n && r.ok(); ++i) {
    BlockContent content;
    std::uint32_t refs = 0;
    proto::read_value(r, content);
    proto::read_value(r, refs);
    parts.palette.push_back({word_of(content), refs});
  }
  proto::read_value(r, parts.index_width);
  n = bounded_count(r, 1, kMaxIndexWords);
  if (r.ok()) {
    // The words are read from the bytes that remain, and the reader goes on after them.
    const std::size_t left = r.remaining();
    const std::span<const std::uint8_t> rest(r.take(left), left);
    auto used = read_words(rest, n, parts.index_words);
    if (!used) return std::unexpected(proto::ProtocolError::malformed(used.error()));
    r = proto::Reader(rest.subspan(*used));
  }
  n = bounded_count(r, 27, kMaxMixedSlots);
  parts.mixed_cells.reserve(n);
  for (std::size_t i = 0; i < n && r.ok(); ++i) {
    MixedCells cells{};
    proto::read_value(r, cells);
    parts.mixed_cells.push_back(cells);
  }
  if (has_mixed_free) {
    n = bounded_count(r, 1, kMaxMixedSlots);
    parts.mixed_free.reserve(n);
    for (std::size_t i = 0; i < n && r.ok(); ++i) proto::read_value(r, parts.mixed_free.emplace_back());
  }
  if (!r.ok()) return std::unexpected(proto::ProtocolError::malformed(r.code()));
  return parts;
}

std::expected<std::vector<std::uint8_t>, CodecError> encode_chunk(const chunk::Chunk& chunk,
                                                                  const idmap::MaterialMap& map,
                                                                  const Dictionary* dict) {
  ChunkParts parts = chunk.to_parts();
  if (!map.identity) {
    auto r = translate_materials(parts, [&](std::uint16_t id) { return map.to_world(id); });
    if (!r) return std::unexpected(error_with(CodecErrorKind::Materials, make_source(r.error())));
  }
  const auto payload = write_payload(parts);
  auto frame = compress(payload, dict);
  if (!frame) return std::unexpected(error_with(CodecErrorKind::Compress, make_source(frame.error())));
  std::vector<std::uint8_t> blob;
  blob.reserve(kBlobHeaderSize + frame->size());
  blob.push_back(kFormatVersion);
  blob.push_back(dict ? dict->id : 0);
  blob.insert(blob.end(), frame->begin(), frame->end());
  return blob;
}

std::expected<chunk::Chunk, CodecError> decode_chunk(coords::ChunkPos pos, std::span<const std::uint8_t> blob,
                                                     const idmap::MaterialMap& map,
                                                     std::span<const Dictionary> dictionaries) {
  if (blob.size() < kBlobHeaderSize) {
    CodecError e{CodecErrorKind::Truncated};
    e.len = blob.size();
    return std::unexpected(std::move(e));
  }
  const std::uint8_t version = blob[0];
  if (version > kFormatVersion) {
    CodecError e{CodecErrorKind::FutureVersion};
    e.value = version;
    return std::unexpected(std::move(e));
  }
  const Dictionary* dict = nullptr;
  if (blob[1] != 0) {
    auto it = std::find_if(dictionaries.begin(), dictionaries.end(),
                           [&](const Dictionary& d) { return d.id == blob[1]; });
    if (it == dictionaries.end()) {
      CodecError e{CodecErrorKind::MissingDictionary};
      e.value = blob[1];
      return std::unexpected(std::move(e));
    }
    dict = &*it;
  }
  auto payload = decompress(blob.subspan(kBlobHeaderSize), kMaxPayloadBytes, dict);
  if (!payload) return std::unexpected(error_with(CodecErrorKind::Decompress, make_source(payload.error())));
  auto parts = parts_of_payload(version, *payload);
  if (!parts) return std::unexpected(parts.error());
  payload->clear();
  payload->shrink_to_fit();
  if (!map.identity) {
    // The table lookup inline (a chunk has hundreds of mixed cells); to_runtime makes the error.
    const auto& table = map.reverse_table;
    auto r =
        translate_materials(*parts, [&](std::uint16_t id) -> std::expected<std::uint16_t, idmap::IdMapError> {
          if (id < table.size() && table[id] != idmap::MaterialMap::kNoRuntime)
            return static_cast<std::uint16_t>(table[id]);
          return map.to_runtime(id);
        });
    if (!r) return std::unexpected(error_with(CodecErrorKind::Materials, make_source(r.error())));
  }
  auto bad_free = check_mixed_free(*parts);
  auto chunk = chunk::Chunk::from_parts(pos, std::move(*parts));
  if (!chunk) return std::unexpected(error_with(CodecErrorKind::Invalid, make_source(chunk.error())));
  if (bad_free) return std::unexpected(error_with(CodecErrorKind::Invalid, make_source(*bad_free)));
  return std::move(*chunk);
}

}  // namespace ostrel_core::persist::codec
