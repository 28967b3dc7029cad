#include "persist/records/codec.hpp"

#include <algorithm>
#include <random>

#include <gtest/gtest.h>
#include <zstd.h>

#include "world/material.hpp"
#include "persist/world_db.hpp"
#include "support/alloc_count.hpp"
#include "support/hex.hpp"
#include "support/temp_dir.hpp"

namespace ostrel_core::persist::codec {
namespace {

using block::BlockValue;
using chunk::Chunk;
using chunk::CorruptChunkKind;
using coords::ChunkPos;
using coords::LocalPos;
using test::from_hex;

const auto kIdentity = idmap::MaterialMap::identity_map();

std::string zeros(int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += " 00";
  return out;
}

std::vector<std::uint8_t> blob_of(std::uint8_t version, const std::vector<std::uint8_t>& payload) {
  auto frame = compress(payload);
  EXPECT_TRUE(frame);
  if (!frame) return {};
  std::vector<std::uint8_t> blob(2 + frame->size());
  blob[0] = version;  // byte 1, the dictionary id, stays 0
  std::copy(frame->begin(), frame->end(), blob.begin() + 2);
  return blob;
}

std::vector<std::uint8_t> payload_of(const std::vector<std::uint8_t>& blob) {
  return *decompress(std::span(blob).subspan(2), kMaxPayloadBytes);
}

// A chunk with whole, partial and mixed blocks, then enough of them overwritten that palette
// and mixed slots are freed in a scattered order.
Chunk random_chunk(std::uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&](std::uint32_t n) { return static_cast<std::uint32_t>(rng() % n); };
  Chunk c = Chunk::filled({1, -2, 3}, 0);
  auto value = [&]() {
    switch (pick(3)) {
      case 0: return BlockValue::whole(static_cast<material::MaterialId>(pick(6)));
      case 1: return BlockValue::partial(static_cast<material::MaterialId>(1 + pick(5)), 1 + pick(0x7FFFFFE));
      default: {
        block::Cells cells{};
        for (auto& m : cells) m = static_cast<material::MaterialId>(pick(4));
        return BlockValue::mixed(cells);
      }
    }
  };
  for (int i = 0; i < 900; ++i) c.set_block_local(LocalPos::from_index(static_cast<std::uint16_t>(pick(4096))), value());
  // Free a dozen mixed and partial entries (few enough that the chunk does not repack).
  int freed = 0;
  for (std::uint16_t i = static_cast<std::uint16_t>(pick(2000)); i < 4096 && freed < 12; ++i) {
    const auto at = LocalPos::from_index(i);
    if (c.get_block_local(at).kind() != block::Kind::Whole) {
      c.set_block_local(at, BlockValue::whole(2));
      ++freed;
    }
  }
  return c;
}

// The same edits applied to two chunks reuse the same mixed slots; with `whole`, also the same
// palette slots, so the chunks stay equal in every part.
void expect_same_reuse(Chunk a, Chunk b, bool whole) {
  std::mt19937 rng(99);
  for (int i = 0; i < 200; ++i) {
    const auto at = LocalPos::from_index(static_cast<std::uint16_t>(rng() % 4096));
    block::Cells cells{};
    for (auto& m : cells) m = static_cast<material::MaterialId>(rng() % 5);
    const auto v = i % 2 ? BlockValue::mixed(cells) : BlockValue::whole(static_cast<material::MaterialId>(7 + i));
    a.set_block_local(at, v);
    b.set_block_local(at, v);
  }
  const auto pa = a.to_parts(), pb = b.to_parts();
  EXPECT_TRUE(pa.mixed_cells == pb.mixed_cells);
  EXPECT_TRUE(pa.mixed_free == pb.mixed_free);
  if (whole) {
    EXPECT_TRUE(a == b);
  }
}

TEST(ChunkBlob, AirChunkHasTheSmallestPayload) {
  const Chunk air = Chunk::filled({0, 0, 0}, 0);
  auto blob = encode_chunk(air, kIdentity);
  ASSERT_TRUE(blob);
  EXPECT_EQ((*blob)[0], 1);
  EXPECT_EQ((*blob)[1], 0);
  EXPECT_EQ(test::to_hex(payload_of(*blob)), "01 00 00 80 20 00 00 00 00");
  auto back = decode_chunk({0, 0, 0}, *blob, kIdentity, {});
  ASSERT_TRUE(back);
  EXPECT_TRUE(*back == air);
}

TEST(ChunkBlob, RandomChunksRoundTripWithTheirReuseOrder) {
  // A map that moves every id, so translation errors cannot cancel out.
  idmap::MaterialMap map;
  for (std::uint16_t r = 0; r < 40; ++r) {
    const std::uint16_t w = r == 0 ? 0 : static_cast<std::uint16_t>(1000 - r);
    map.forward.push_back(w);
    map.reverse[w] = r;
  }
  idmap::MaterialMap looked_up = map;
  looked_up.build_lookup();
  for (std::uint32_t seed : {1u, 2u, 3u, 4u}) {
    SCOPED_TRACE(seed);
    const Chunk c = random_chunk(seed);
    ASSERT_FALSE(c.mixed().free_slots().empty());
    ASSERT_FALSE(c.free_slots().empty());
    for (const auto* m : std::initializer_list<const idmap::MaterialMap*>{&kIdentity, &map, &looked_up}) {
      auto blob = encode_chunk(c, *m);
      ASSERT_TRUE(blob) << report(blob.error());
      auto back = decode_chunk(c.position(), *blob, *m, {});
      ASSERT_TRUE(back) << report(back.error());
      EXPECT_TRUE(back->to_parts() == c.to_parts());
      // The mixed free stack is stored as it is; palette free slots come back ascending, so
      // the highest is reused first.
      EXPECT_TRUE(std::ranges::equal(back->mixed().free_slots(), c.mixed().free_slots()));
      std::vector<std::uint16_t> free(c.free_slots().begin(), c.free_slots().end());
      std::ranges::sort(free);
      EXPECT_TRUE(std::ranges::equal(back->free_slots(), free));
      expect_same_reuse(c, *back, false);
      expect_same_reuse(*Chunk::from_parts(c.position(), c.to_parts()), *back, true);
    }
    // World ids are what is stored.
    auto stored = read_payload(payload_of(*encode_chunk(c, map)), true);
    ASSERT_TRUE(stored);
    EXPECT_EQ(block::word_material(stored->palette[0].content), 0);
    for (const auto& cells : stored->mixed_cells) {
      for (auto id : cells) EXPECT_TRUE(id == 0 || id > 900);
    }
  }
}

std::vector<std::uint8_t> unknown_size_frame(std::size_t zeros) {
  std::vector<std::uint8_t> in(zeros, 0), out(ZSTD_compressBound(zeros));
  ZSTD_CCtx* cctx = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(cctx, ZSTD_c_contentSizeFlag, 0);
  const std::size_t n = ZSTD_compress2(cctx, out.data(), out.size(), in.data(), in.size());
  ZSTD_freeCCtx(cctx);
  EXPECT_FALSE(ZSTD_isError(n));
  out.resize(n);
  EXPECT_EQ(ZSTD_getFrameContentSize(out.data(), out.size()), ZSTD_CONTENTSIZE_UNKNOWN);
  return out;
}

// `prefix`, then `count` as a varint, then `count` items of `item_bytes` zero bytes: a payload
// whose sequence count is large but fits the bytes that follow.
std::vector<std::uint8_t> counted_zeros(const std::string& prefix_hex, std::size_t count,
                                        std::size_t item_bytes) {
  std::vector<std::uint8_t> out = from_hex(prefix_hex);
  for (std::size_t v = count;; v >>= 7) {
    out.push_back(static_cast<std::uint8_t>((v & 0x7F) | (v >= 0x80 ? 0x80 : 0)));
    if (v < 0x80) break;
  }
  out.resize(out.size() + count * item_bytes, 0);
  return out;
}

std::vector<std::uint8_t> with_header(std::uint8_t version, std::vector<std::uint8_t> frame) {
  frame.insert(frame.begin(), {version, 0});
  return frame;
}

TEST(ChunkBlob, BadBlobsAreRefusedWithBoundedMemory) {
  struct Bad {
    const char* name;
    std::vector<std::uint8_t> blob;
    CodecErrorKind kind;
    const char* text;  // the whole report
  };
  const Bad cases[] = {
      {"one_byte", from_hex("01"), CodecErrorKind::Truncated,
       "chunk blob is 1 bytes, shorter than the 2-byte header"},
      {"future_version", from_hex("02 00 00"), CodecErrorKind::FutureVersion,
       "chunk blob claims format version 2, but this build understands at most 1 — the world was written by "
       "a "
       "newer engine"},
      {"unknown_dictionary", from_hex("01 07"), CodecErrorKind::MissingDictionary,
       "chunk blob references dictionary 7, which is not stored in this world"},
      {"not_a_frame", from_hex("01 00 de ad be ef"), CodecErrorKind::Decompress, nullptr},
      {"frame_over_4mib", blob_of(1, std::vector<std::uint8_t>(kMaxPayloadBytes + 1, 0)),
       CodecErrorKind::Decompress, nullptr},
      {"frame_of_unstated_size_over_4mib", with_header(1, unknown_size_frame(64 << 20)),
       CodecErrorKind::Decompress, nullptr},
      {"palette_count_past_the_bytes", blob_of(1, from_hex("ff ff ff 7f 00 00")), CodecErrorKind::Payload,
       nullptr},
      {"mixed_count_past_the_bytes", blob_of(1, from_hex("01 00 00 80 20 00 00 ff ff 03 00 00")),
       CodecErrorKind::Payload, nullptr},
      {"bad_variant", blob_of(1, from_hex("01 03 00 80 20 00 00 00 00")), CodecErrorKind::Payload, nullptr},
      // Counts that the payload's bytes can hold but no chunk can: refused before reserving.
      {"palette_of_1398000_entries", blob_of(1, counted_zeros("", 1'398'000, 3)), CodecErrorKind::Payload,
       "chunk blob payload is malformed\n  caused by: malformed message"},
      {"palette_of_4097_entries", blob_of(1, counted_zeros("", 4097, 3)), CodecErrorKind::Payload, nullptr},
      {"4000000_index_words", blob_of(1, counted_zeros("01 00 00 80 20 00", 4'000'000, 1)),
       CodecErrorKind::Payload, nullptr},
      {"1025_index_words", blob_of(1, counted_zeros("01 00 00 80 20 10", 1025, 1)), CodecErrorKind::Payload,
       nullptr},
      {"150000_mixed_slots", blob_of(1, counted_zeros("01 00 00 80 20 00 00", 150'000, 27)),
       CodecErrorKind::Payload, nullptr},
      {"65537_free_mixed_slots", blob_of(1, counted_zeros("01 00 00 80 20 00 00 00", 65'537, 1)),
       CodecErrorKind::Payload, nullptr},
      {"narrow_index", blob_of(1, from_hex("02 00 00 80 20 00 05 00 00 00 00 00")), CodecErrorKind::Invalid,
       "chunk blob decoded but failed validation\n  caused by: index width 0 cannot address a palette of 2 "
       "entries"},
      {"refcount_mismatch", blob_of(1, from_hex("01 00 00 ff 1f 00 00 00 00")), CodecErrorKind::Invalid,
       "chunk blob decoded but failed validation\n  caused by: palette slot 0 claims 4095 references but "
       "4096 "
       "blocks use it"},
      {"non_canonical_partial", blob_of(1, from_hex("01 01 03 ff ff ff 3f 80 20 00 00 00 00")),
       CodecErrorKind::Invalid,
       "chunk blob decoded but failed validation\n  caused by: palette slot 0 holds a non-canonical Partial"},
      {"free_slot_past_table", blob_of(1, from_hex("01 00 00 80 20 00 00 01" + zeros(27) + " 01 01")),
       CodecErrorKind::Invalid,
       "chunk blob decoded but failed validation\n  caused by: mixed free list names slot 1, which is past "
       "the "
       "table's 1 slots, listed twice or in use"},
      {"free_slot_twice", blob_of(1, from_hex("01 00 00 80 20 00 00 01" + zeros(27) + " 02 00 00")),
       CodecErrorKind::Invalid, nullptr},
      {"version_0_malformed", blob_of(0, from_hex("01 00")), CodecErrorKind::Migration,
       "could not migrate chunk blob from format version 0\n  caused by: format version 0 payload is "
       "malformed\n"
       "  caused by: malformed message"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::size_t largest = 0;
    auto got = [&] {
      // The largest single allocation while the decode runs: hostile blobs cannot make the
      // decoder allocate more than its bound.
      test::AllocationWatch watch;
      auto r = decode_chunk({0, 0, 0}, c.blob, kIdentity, {});
      largest = watch.largest();
      return r;
    }();
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().kind, c.kind) << report(got.error());
    if (c.text) {
      EXPECT_EQ(report(got.error()), c.text);
    }
    EXPECT_LE(largest, kMaxPayloadBytes + 2);
  }
}

TEST(ChunkBlob, IndexWordsReadAsTheRecordReaderReadsThem) {
  // Each word as written (minimal or not) and its value; the list is given twice, so that the
  // first copy is read while ten or more bytes remain and the second near the payload's end.
  struct Word {
    const char* hex;
    std::uint64_t value;
  };
  const Word words[] = {
      {"00", 0},
      {"7f", 127},
      {"80 01", 128},
      {"80 00", 0},  // non-minimal forms are read
      {"ff ff ff ff ff ff ff 7f", (std::uint64_t{1} << 56) - 1},
      {"80 80 80 80 80 80 80 80 01", std::uint64_t{1} << 56},
      {"ff ff ff ff ff ff ff ff 7f", (std::uint64_t{1} << 63) - 1},
      {"80 80 80 80 80 80 80 80 80 01", std::uint64_t{1} << 63},
      {"ff ff ff ff ff ff ff ff ff 01", ~std::uint64_t{0}},
      {"80 80 80 80 80 80 80 80 80 00", 0},
  };
  static_assert(std::size(words) * 2 == 0x14);
  std::string hex = "01 00 00 80 20 00 14";  // one air entry, width 0, 20 words
  std::vector<std::uint64_t> want;
  for (int copy = 0; copy < 2; ++copy) {
    for (const auto& w : words) {
      hex += std::string(" ") + w.hex;
      want.push_back(w.value);
    }
  }
  auto parts = read_payload(from_hex(hex + " 00 00"), true);
  ASSERT_TRUE(parts.has_value()) << parts.error().message();
  EXPECT_EQ(parts->index_words, want);

  struct Bad {
    const char* name;
    const char* words;  // after a count of 2 words
    proto::DecodeCode code;
  };
  const Bad bad[] = {
      {"tenth_byte_2_far_from_the_end", "ff ff ff ff ff ff ff ff ff 02 00 00 00 00 00 00 00 00 00 00",
       proto::DecodeCode::VarintOverflow},
      {"tenth_byte_2_as_the_last_bytes", "00 ff ff ff ff ff ff ff ff ff 02",
       proto::DecodeCode::VarintOverflow},
      {"cut_inside_the_last_word", "00 ff ff", proto::DecodeCode::Truncated},
  };
  for (const auto& b : bad) {
    SCOPED_TRACE(b.name);
    auto got = read_payload(from_hex(std::string("01 00 00 80 20 00 02 ") + b.words), true);
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().decode_code(), b.code);
  }
}

TEST(ChunkBlob, FreeSlotUsedByLiveEntryIsRefused) {
  // Block 0 is mixed (palette slot 1 -> mixed slot 0), and the free list names mixed slot 0 too.
  std::string words = " 01";
  for (int i = 1; i < 64; ++i) words += " 00";
  std::string cells;
  for (int i = 0; i < 27; ++i) cells += " 01";
  const std::string head = "02 00 00 ff 1f 02 00 01 01 40";
  for (const char* free_list : {" 01 00", " 00"}) {
    SCOPED_TRACE(free_list);
    auto got = decode_chunk({0, 0, 0}, blob_of(1, from_hex(head + words + " 01" + cells + free_list)), kIdentity, {});
    if (std::string(free_list) == " 00") {
      ASSERT_TRUE(got) << report(got.error());  // the same blob without the bad entry is fine
    } else {
      ASSERT_FALSE(got);
      EXPECT_EQ(got.error().kind, CodecErrorKind::Invalid) << report(got.error());
    }
  }
}

TEST(ChunkBlob, VersionZeroReadsAsVersionOneWithoutFreeList) {
  // Whole 0 for every block but one mixed block; the mixed table has one slot.
  Chunk c = Chunk::filled({0, 0, 0}, 0);
  block::Cells cells{};
  cells[0] = 3;
  cells[5] = 4;
  c.set_block_local({1, 2, 3}, BlockValue::mixed(cells));
  auto v1 = encode_chunk(c, kIdentity);
  ASSERT_TRUE(v1);
  auto payload = payload_of(*v1);
  ASSERT_EQ(payload.back(), 0);  // the empty free list, last field
  payload.pop_back();
  auto back = decode_chunk({0, 0, 0}, blob_of(0, payload), kIdentity, {});
  ASSERT_TRUE(back) << report(back.error());
  EXPECT_TRUE(*back == c);
  EXPECT_TRUE(back->mixed().free_slots().empty());
}

TEST(ChunkBlob, LenientWhereTheFormatAllows) {
  // One entry accepts any width: width 3 with 192 zero words.
  std::string words;
  for (int i = 0; i < 192; ++i) words += " 00";
  auto wide = decode_chunk({0, 0, 0}, blob_of(1, from_hex("01 00 05 80 20 03 c0 01" + words + " 00 00")), kIdentity, {});
  ASSERT_TRUE(wide) << report(wide.error());
  EXPECT_EQ(wide->get_block_local({4, 4, 4}).material(), 5);
  // Bytes after the last field are ignored.
  auto trailing = decode_chunk({0, 0, 0}, blob_of(1, from_hex("01 00 00 80 20 00 00 00 00 ff ff")), kIdentity, {});
  ASSERT_TRUE(trailing);
  EXPECT_TRUE(*trailing == Chunk::filled({0, 0, 0}, 0));
  // A free Partial that is not canonical is never looked at.
  auto free_partial = decode_chunk(
      {0, 0, 0}, blob_of(1, from_hex("02 00 00 80 20 01 00 ff ff ff 3f 00 01 00 00 00")), kIdentity, {});
  EXPECT_FALSE(free_partial);  // width 0 cannot address two entries...
  std::string zero_words;
  for (int i = 0; i < 64; ++i) zero_words += " 00";
  auto free_ok = decode_chunk(
      {0, 0, 0}, blob_of(1, from_hex("02 00 00 80 20 01 00 ff ff ff 3f 00 01 40" + zero_words + " 00 00")),
      kIdentity, {});
  ASSERT_TRUE(free_ok) << report(free_ok.error());  // ...but with one bit it decodes
  EXPECT_EQ(free_ok->free_slots().size(), 1u);
}

TEST(ChunkBlob, UntranslatableIdsAreRefused) {
  idmap::MaterialMap map;
  map.forward = {0, 1, idmap::kUnmapped};
  map.reverse = {{0, 0}, {1, 1}};
  // A free entry of material 2 still needs a world id.
  Chunk c = Chunk::filled({0, 0, 0}, 0);
  c.set_block_local({0, 0, 0}, BlockValue::whole(2));
  c.set_block_local({1, 0, 0}, BlockValue::whole(1));
  c.set_block_local({2, 0, 0}, BlockValue::whole(1));
  c.set_block_local({3, 0, 0}, BlockValue::partial(1, 7));
  c.set_block_local({0, 0, 0}, BlockValue::whole(0));
  ASSERT_EQ(c.free_slots().size(), 1u);
  auto blob = encode_chunk(c, map);
  ASSERT_FALSE(blob);
  EXPECT_EQ(report(blob.error()),
            "could not translate material ids\n  caused by: runtime material id 2 was never reconciled against "
            "this world");
  auto back = decode_chunk({0, 0, 0}, *encode_chunk(c, kIdentity), map, {});
  ASSERT_FALSE(back);
  EXPECT_EQ(back.error().kind, CodecErrorKind::Materials);
}

TEST(ChunkBlob, WorldDbStoresAndLoadsChunks) {
  test::TempDir dir;
  material::Registry registry;
  ASSERT_TRUE(registry.register_material("m:stone"));
  auto conn = sqlite::Connection::open(dir / "world.sqlite");
  auto world = WorldDb::from_connection(std::move(*conn), dir / "world.sqlite", registry);
  ASSERT_TRUE(world);
  const ChunkPos pos{4, 5, -6};
  Chunk c = Chunk::filled(pos, 2);
  auto blob = world->encode("overworld", pos, c);
  ASSERT_TRUE(blob);
  auto stmt = world->connection().prepare("INSERT INTO chunks VALUES ('overworld', 4, 5, -6, 1, ?1), "
                                          "('overworld', 0, 0, 0, 1, x'0900')");
  ASSERT_TRUE(stmt->bind_blob(1, *blob) && stmt->run());
  auto back = world->load_chunk_in("overworld", pos);
  ASSERT_TRUE(back && *back);
  EXPECT_TRUE(**back == c);
  EXPECT_EQ(*world->load_chunk_in("nether", pos), std::nullopt);
  auto bad = world->load_chunk_in("overworld", {0, 0, 0});
  ASSERT_FALSE(bad);
  EXPECT_EQ(report(bad.error()),
            "chunk at (0, 0, 0) in domain `overworld`\n  caused by: chunk blob claims format version 9, but this "
            "build understands at most 1 — the world was written by a newer engine");
}

}  // namespace
}  // namespace ostrel_core::persist::codec
