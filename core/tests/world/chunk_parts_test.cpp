// Rebuilding chunks from stored parts: validation errors and the state a stored chunk resumes in.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "world/chunk.hpp"

namespace ostrel_core::chunk {
namespace {

using block::BlockValue;
using Entry = ChunkParts::Entry;

constexpr MaterialId kStone = 2;
constexpr MaterialId kDirt = 3;

LocalPos at(int i) { return LocalPos::from_index(static_cast<std::uint16_t>(i)); }

// Parts whose block b names slot_of(b), packed at `width`.
ChunkParts parts_of(std::vector<Entry> palette, std::uint8_t width,
                    const std::function<std::uint32_t(std::size_t)>& slot_of) {
  bitpack::BitArray idx(4096, width);
  for (std::size_t b = 0; b < 4096; ++b) idx.set(b, slot_of(b));
  ChunkParts p;
  p.palette = std::move(palette);
  p.index_width = width;
  p.index_words.assign(idx.words().begin(), idx.words().end());
  return p;
}

Cells two_materials(MaterialId a, MaterialId b) {
  Cells c{};
  c[0] = a;
  c[26] = b;
  return c;
}

// Air everywhere but block 0 (slot 1, whatever `content` is).
ChunkParts one_special(std::uint64_t content, std::uint32_t refs = 1) {
  return parts_of({{block::whole_word(0), 4095}, {content, refs}}, 1,
                  [](std::size_t b) { return b == 0 ? 1u : 0u; });
}

// One whole-air entry for every block, with the given index width, word count and mixed slots.
ChunkParts bare(std::uint8_t width, std::size_t words, std::size_t mixed_slots = 0) {
  return ChunkParts{{{0, 4096}}, width, std::vector<std::uint64_t>(words, 0),
                    std::vector<Cells>(mixed_slots), {}};
}

// One special block whose entry names mixed slot `named`, over a one-array table.
ChunkParts one_mixed(std::uint16_t named, std::vector<std::uint16_t> mixed_free) {
  ChunkParts p = one_special(block::mixed_word(named));
  p.mixed_cells = {two_materials(2, 3)};
  p.mixed_free = std::move(mixed_free);
  return p;
}

struct BadParts {
  const char* name;
  std::function<ChunkParts()> make;
  CorruptChunkKind kind;
  const char* message;
  const char* debug;
};

TEST(ChunkFromParts, RefusesCorruptParts) {
  const BadParts kCases[] = {
      {"empty palette", [] { return ChunkParts{}; }, CorruptChunkKind::EmptyPalette,
       "chunk palette is empty", "EmptyPalette"},
      {"4097 entries",
       [] { return parts_of(std::vector<Entry>(4097, {0, 0}), 13, [](std::size_t) { return 0u; }); },
       CorruptChunkKind::PaletteTooLarge,
       "chunk palette has 4097 entries, more than the 4096 blocks that could use them",
       "PaletteTooLarge { len: 4097 }"},
      {"two entries at width 0",
       [] { return parts_of({{0, 4096}, {block::whole_word(2), 0}}, 0, [](std::size_t) { return 0u; }); },
       CorruptChunkKind::IndexTooNarrow, "index width 0 cannot address a palette of 2 entries",
       "IndexTooNarrow { bits: 0, palette: 2 }"},
      {"narrow width is checked before the words",
       [] {
         ChunkParts p = parts_of({{0, 4096}, {0, 0}, {0, 0}}, 1, [](std::size_t) { return 0u; });
         p.index_words.pop_back();
         return p;
       },
       CorruptChunkKind::IndexTooNarrow, "index width 1 cannot address a palette of 3 entries",
       "IndexTooNarrow { bits: 1, palette: 3 }"},
      {"width 17",
       [] { return bare(17, 1088); },
       CorruptChunkKind::Indices, "packed block indices are malformed",
       "Indices(TooWide { bits: 17 })"},
      {"255 words at width 4",
       [] { return bare(4, 255); },
       CorruptChunkKind::Indices, "packed block indices are malformed",
       "Indices(WrongWordCount { expected: 256, found: 255 })"},
      {"65537 mixed slots",
       [] { return bare(0, 0, 65537); },
       CorruptChunkKind::MixedTableTooLarge,
       "mixed table has 65537 slots, more than a u16 slot index can address",
       "MixedTableTooLarge { len: 65537 }"},
      {"mixed slot past the table",
       [] { return one_mixed(1, {}); },
       CorruptChunkKind::DanglingMixedSlot,
       "palette slot 1 references mixed slot 1, which is absent or freed",
       "DanglingMixedSlot { palette: 1, mixed: 1 }"},
      {"mixed slot that is free",
       [] { return one_mixed(0, {0}); },
       CorruptChunkKind::DanglingMixedSlot,
       "palette slot 1 references mixed slot 0, which is absent or freed",
       "DanglingMixedSlot { palette: 1, mixed: 0 }"},
      {"partial with a full mask", [] { return one_special(block::partial_word(2, 0x7FFFFFF)); },
       CorruptChunkKind::NonCanonicalPartial, "palette slot 1 holds a non-canonical Partial",
       "NonCanonicalPartial { slot: 1 }"},
      {"partial of air", [] { return one_special(block::partial_word(0, 0x1FF)); },
       CorruptChunkKind::NonCanonicalPartial, "palette slot 1 holds a non-canonical Partial",
       "NonCanonicalPartial { slot: 1 }"},
      {"partial with no cell", [] { return one_special(block::partial_word(2, 0)); },
       CorruptChunkKind::NonCanonicalPartial, "palette slot 1 holds a non-canonical Partial",
       "NonCanonicalPartial { slot: 1 }"},
      {"partial with a mask above full", [] { return one_special(block::partial_word(2, 0x8000001)); },
       CorruptChunkKind::NonCanonicalPartial, "palette slot 1 holds a non-canonical Partial",
       "NonCanonicalPartial { slot: 1 }"},
      {"block past the palette",
       [] {
         return parts_of({{0, 4095}, {block::whole_word(2), 1}}, 2,
                         [](std::size_t b) { return b == 9 ? 3u : b == 0 ? 1u : 0u; });
       },
       CorruptChunkKind::IndexOutOfRange,
       "block 9 indexes palette slot 3, but the palette has 2 entries",
       "IndexOutOfRange { block: 9, slot: 3, palette: 2 }"},
      {"block naming a free slot",
       [] {
         return parts_of({{0, 4095}, {block::whole_word(2), 0}}, 1,
                         [](std::size_t b) { return b == 4000 ? 1u : 0u; });
       },
       CorruptChunkKind::IndexToFreeSlot, "block 4000 indexes palette slot 1, which has no references",
       "IndexToFreeSlot { block: 4000, slot: 1 }"},
      {"count one short",
       [] { return parts_of({{0, 4095}}, 0, [](std::size_t) { return 0u; }); },
       CorruptChunkKind::RefcountMismatch, "palette slot 0 claims 4095 references but 4096 blocks use it",
       "RefcountMismatch { slot: 0, stored: 4095, counted: 4096 }"},
      {"count on a slot no block uses",
       [] {
         return parts_of({{0, 4096}, {block::whole_word(2), 0}, {block::whole_word(3), 5}}, 2,
                         [](std::size_t) { return 0u; });
       },
       CorruptChunkKind::RefcountMismatch, "palette slot 2 claims 5 references but 0 blocks use it",
       "RefcountMismatch { slot: 2, stored: 5, counted: 0 }"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    auto got = Chunk::from_parts({0, 0, 0}, c.make());
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().kind, c.kind);
    EXPECT_EQ(got.error().message(), c.message);
    EXPECT_EQ(got.error().debug(), c.debug);
  }
}

TEST(ChunkFromParts, CountsEveryWidthAndFindsTheFirstBadBlock) {
  // Every width the format allows, with a palette as large as the width can address (at most
  // 4096 entries) and slots in short and long runs, so the last blocks of the array count too.
  for (unsigned width = 1; width <= 16; ++width) {
    SCOPED_TRACE(width);
    const std::size_t entries = std::min<std::size_t>(std::size_t{1} << width, 4096);
    const auto slot_of = [&](std::size_t b) {
      return static_cast<std::uint32_t>(((b / (1 + b % 7)) * 2654435761u) % entries);
    };
    std::vector<Entry> palette(entries);
    for (std::size_t i = 0; i < entries; ++i)
      palette[i].content = block::whole_word(static_cast<MaterialId>(i));
    for (std::size_t b = 0; b < 4096; ++b) ++palette[slot_of(b)].refs;
    auto parts = parts_of(palette, static_cast<std::uint8_t>(width), slot_of);
    const auto ok = Chunk::from_parts({}, parts);
    ASSERT_TRUE(ok.has_value()) << ok.error().message();
    for (std::size_t b : {std::size_t{0}, std::size_t{4095}, std::size_t{4031}, std::size_t{2222}}) {
      EXPECT_EQ(ok->get_block_local(at(static_cast<int>(b))).material(), slot_of(b)) << b;
    }
    // One reference too many on the slot of the last block is a mismatch.
    auto counted_wrong = parts;
    ++counted_wrong.palette[slot_of(4095)].refs;
    ASSERT_FALSE(Chunk::from_parts({}, counted_wrong).has_value());
    EXPECT_EQ(Chunk::from_parts({}, counted_wrong).error().kind, CorruptChunkKind::RefcountMismatch);
    // A slot that blocks use but the palette holds free: the error names the first such block.
    const std::uint32_t victim = slot_of(4090);
    auto free_palette = palette;
    free_palette[victim].refs = 0;
    auto to_free = parts_of(free_palette, static_cast<std::uint8_t>(width), slot_of);
    auto bad = Chunk::from_parts({}, to_free);
    ASSERT_FALSE(bad.has_value());
    EXPECT_EQ(bad.error().kind, CorruptChunkKind::IndexToFreeSlot);
    std::size_t first = 0;
    while (slot_of(first) != victim) ++first;
    EXPECT_EQ(bad.error().block, first);
  }
}

TEST(ChunkFromParts, MalformedIndicesKeepTheirCause) {
  auto got = Chunk::from_parts({}, bare(4, 255));
  ASSERT_FALSE(got.has_value());
  EXPECT_EQ(report(got.error()),
            "packed block indices are malformed\n  caused by: expected 256 packed words, found 255");
}

TEST(ChunkFromParts, AcceptsWhatValidationAllows) {
  // One entry at any width.
  ChunkParts stone = bare(3, 192);
  stone.palette[0].content = block::whole_word(kStone);
  auto wide = Chunk::from_parts({}, stone);
  ASSERT_TRUE(wide.has_value());
  EXPECT_EQ(wide->index_width(), 3);
  EXPECT_EQ(wide->get_block_local(at(77)).material(), kStone);
  EXPECT_TRUE(wide->check_invariants());
  // Free entries are not checked, whatever they hold.
  auto free_odd = Chunk::from_parts(
      {}, parts_of({{0, 4096}, {block::partial_word(2, 0x7FFFFFF), 0}, {block::mixed_word(9), 0}},
                   2, [](std::size_t) { return 0u; }));
  ASSERT_TRUE(free_odd.has_value());
  EXPECT_TRUE(free_odd->check_invariants());
}

TEST(ChunkFromParts, RoundTripsEveryPart) {
  Chunk c = Chunk::filled({3, -4, 5}, 0);
  c.set_block_local(at(1), BlockValue::whole(kStone));
  c.set_block_local(at(2), BlockValue::partial(kDirt, 0x1C0E07));
  c.set_block_local(at(3), BlockValue::mixed(two_materials(kStone, kDirt)));
  c.set_block_local(at(4), BlockValue::mixed(two_materials(kDirt, kStone)));
  c.set_block_local(at(5), BlockValue::whole(9));
  c.set_block_local(at(3), BlockValue::air());  // a freed mixed slot and a free palette slot
  ASSERT_FALSE(c.free_slots().empty());
  ASSERT_FALSE(c.mixed().free_slots().empty());

  auto back = Chunk::from_parts(c.position(), c.to_parts());
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->to_parts(), c.to_parts());
  EXPECT_EQ(back->position(), (coords::ChunkPos{3, -4, 5}));
  EXPECT_EQ(back->live_count(), c.live_count());
  EXPECT_EQ(back->mixed().live_count(), c.mixed().live_count());
  for (std::size_t s = 0; s < c.palette().size(); ++s) {
    if (c.palette()[s].refs > 0) {
      EXPECT_EQ(back->palette()[s], c.palette()[s]) << "slot " << s;
    }
  }
  for (int b = 0; b < 8; ++b) EXPECT_EQ(back->block_cells(at(b)), c.block_cells(at(b)));
  EXPECT_TRUE(back->check_invariants());

  Chunk air = Chunk::filled({}, 0);
  EXPECT_EQ(air.to_parts(), (ChunkParts{{{0, 4096}}, 0, {}, {}, {}}));
}

TEST(ChunkFromParts, StoredFreeSlotsAreReusedInTheirOrder) {
  // Palette slots 1 and 3 are free: the highest is reused first. Mixed slots are freed in the
  // stored stack order 2, 0: slot 0 is reused first.
  ChunkParts p = parts_of({{0, 4095},
                           {block::whole_word(7), 0},
                           {block::mixed_word(1), 1},
                           {block::whole_word(8), 0}},
                          2, [](std::size_t b) { return b == 0 ? 2u : 0u; });
  p.mixed_cells = {two_materials(2, 3), two_materials(3, 4), two_materials(4, 5)};
  p.mixed_free = {2, 0};
  auto c = Chunk::from_parts({}, p);
  ASSERT_TRUE(c.has_value());
  EXPECT_EQ(std::vector<std::uint16_t>(c->free_slots().begin(), c->free_slots().end()),
            (std::vector<std::uint16_t>{1, 3}));
  EXPECT_EQ(c->mixed().live_count(), 1u);

  c->set_block_local(at(10), BlockValue::mixed(two_materials(9, 9 + 1)));
  EXPECT_EQ(c->indices().get(10), 3u);
  EXPECT_EQ(c->palette()[3].content, block::mixed_word(0));
  c->set_block_local(at(11), BlockValue::mixed(two_materials(11, 12)));
  EXPECT_EQ(c->indices().get(11), 1u);
  EXPECT_EQ(c->palette()[1].content, block::mixed_word(2));
  EXPECT_TRUE(c->check_invariants());
}

TEST(ChunkFromParts, BadMixedFreeEntriesAreNeverHandedOut) {
  // The stored free stack names slot 5 (past the table) and slot 0 twice.
  ChunkParts p = one_special(block::mixed_word(1));
  p.mixed_cells = {two_materials(2, 3), two_materials(3, 4)};
  p.mixed_free = {0, 5, 0};
  auto c = Chunk::from_parts({}, p);
  ASSERT_TRUE(c.has_value());
  EXPECT_EQ(std::vector<std::uint16_t>(c->mixed().free_slots().begin(), c->mixed().free_slots().end()),
            std::vector<std::uint16_t>{0});
  EXPECT_TRUE(c->check_invariants());
  c->set_block_local(at(1), BlockValue::mixed(two_materials(6, 7)));  // takes slot 0
  c->set_block_local(at(2), BlockValue::mixed(two_materials(7, 8)));  // appends slot 2
  EXPECT_EQ(c->block_cells(at(0)), two_materials(3, 4));
  EXPECT_EQ(c->block_cells(at(1)), two_materials(6, 7));
  EXPECT_EQ(c->block_cells(at(2)), two_materials(7, 8));
  EXPECT_EQ(c->mixed().size(), 3u);
  EXPECT_TRUE(c->check_invariants());
}

TEST(ChunkFromParts, SharedMixedSlotOutlivesOneOfItsEntries) {
  // Two live entries name mixed slot 0 (duplicates are not refused in stored chunks).
  ChunkParts p = parts_of({{0, 4093}, {block::mixed_word(0), 1}, {block::mixed_word(0), 1},
                           {block::whole_word(kStone), 1}},
                          2, [](std::size_t b) { return b < 3 ? static_cast<std::uint32_t>(b + 1) : 0u; });
  p.mixed_cells = {two_materials(2, 3)};
  auto c = Chunk::from_parts({}, p);
  ASSERT_TRUE(c.has_value());
  c->set_block_local(at(1), BlockValue::air());  // the last block of palette slot 2 leaves
  EXPECT_EQ(c->mixed().live_count(), 1u);
  c->set_block_local(at(5), BlockValue::mixed(two_materials(8, 9)));
  EXPECT_EQ(c->block_cells(at(0)), two_materials(2, 3));
  EXPECT_EQ(c->block_cells(at(5)), two_materials(8, 9));
  EXPECT_TRUE(c->check_invariants());
}

TEST(ChunkFromParts, FullMixedTableOfUnusedArraysIsCompacted) {
  // 65536 live mixed slots that no block uses: a new mixed array cannot take slot 65536.
  ChunkParts p = bare(0, 0, 65536);
  for (std::size_t s = 0; s < p.mixed_cells.size(); ++s) {
    p.mixed_cells[s][0] = static_cast<MaterialId>(s);
    p.mixed_cells[s][1] = 1;
  }
  auto c = Chunk::from_parts({}, std::move(p));
  ASSERT_TRUE(c.has_value());
  c->set_block_local(at(3), BlockValue::mixed(two_materials(5, 6)));
  EXPECT_EQ(c->block_cells(at(3)), two_materials(5, 6));
  EXPECT_EQ(c->mixed().size(), 1u);
  EXPECT_TRUE(c->check_invariants());
}

}  // namespace
}  // namespace ostrel_core::chunk
