#pragma once
// Chunk: the 4096 blocks of one chunk as a palette of distinct contents with reference counts,
// per-block palette slots packed at the fewest bits that address the palette, and a
// deduplicated table of the 27-cell arrays of mixed blocks.
//
// What it is made of, all visible to the blob codec (slot order and free stacks are stored, so
// reuse order is a format):
//   palette       PaletteEntry per slot: content word, reference count (0 = free), light
//                 permeability computed when the entry was made
//   free slots    palette slots with count 0, a stack: the last freed is reused first
//   indices       BitArray of 4096 entries, entry i the slot of local block index i
//   mixed table   27-cell arrays by 16-bit slot, with its own free stack (last freed first)
//                 and a hash index (FNV-1a 64 over the 54 bytes, low byte of each id first)
//
// Widths, worked: a new chunk has width 0 and no words; one other content appends slot 1 and
// widens to 1 bit; when the last block leaves slot 1 the live count falls to 1 and the chunk
// repacks to width 0. 4096 distinct contents need 12 bits; a 4097th appends slot 4096 (13 bits),
// releases the entry the block left and repacks to 12.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "base/assert.hpp"
#include "base/bitpack.hpp"
#include "world/block.hpp"
#include "world/coords.hpp"
#include "base/error.hpp"
#include "world/material.hpp"

namespace ostrel_core::chunk {

using block::Cells;
using coords::LocalPos;
using material::MaterialId;

inline constexpr std::size_t kBlocks = coords::kBlocksPerChunk;
// Most slots a 16-bit slot number can name.
inline constexpr std::size_t kMaxSlots = 65536;

// FNV-1a 64 of the 54 bytes of `cells`, each id as its low byte then its high byte.
std::uint64_t mixed_hash(const Cells& cells);

struct PaletteEntry {
  std::uint64_t content = 0;     // content word (see block.hpp)
  std::uint32_t refs = 0;        // blocks whose index names this slot; 0 = free
  std::uint8_t permeability = 0; // face bits of the content, fixed while the entry lives

  block::Kind kind() const { return block::word_kind(content); }
  // Whole and Partial: the material.
  MaterialId material() const { return block::word_material(content); }
  // Mixed: the mixed-table slot.
  std::uint16_t mixed_slot() const { return block::word_material(content); }
  // Partial: the mask.
  std::uint32_t mask() const { return block::word_mask(content); }
  friend bool operator==(const PaletteEntry&, const PaletteEntry&) = default;
};

// Deduplicated 27-cell arrays of a chunk's mixed blocks.
class MixedTable {
 public:
  // The slot holding an equal array, or nothing (also when another array has the same hash).
  std::optional<std::uint16_t> find(const Cells& cells) const;
  // The slot holding `cells`: the found one, else the last freed slot, else a new slot.
  // REQUIRES: a free slot or fewer than 65536 slots (stops otherwise).
  std::uint16_t insert(const Cells& cells);
  // Frees `slot`: forgets its hash when the index names it and pushes it on the free stack. Its
  // cells stay. REQUIRES: slot is live.
  void release(std::uint16_t slot);

  // REQUIRES: slot < size(). Valid until the next insert.
  const Cells& cells(std::uint16_t slot) const {
    OSTREL_ASSERT(slot < cells_.size());
    return cells_[slot];
  }
  // Every slot in slot order, freed ones included.
  std::span<const Cells> all_cells() const { return cells_; }
  // The free stack, bottom first: the last entry is reused next.
  std::span<const std::uint16_t> free_slots() const { return free_; }
  std::size_t size() const { return cells_.size(); }
  std::size_t live_count() const { return live_; }
  // Every slot is free or live, the free stack holds no slot twice, and the index names live
  // slots whose cells have the indexed hash.
  bool check_invariants() const;

  friend bool operator==(const MixedTable&, const MixedTable&) = default;

 private:
  friend class Chunk;

  std::vector<Cells> cells_;                      // by slot; freed slots keep their cells
  std::vector<std::uint16_t> free_;               // stack of freed slots
  std::map<std::uint64_t, std::uint16_t> index_;  // hash -> slot of a live array
  std::size_t live_ = 0;                          // slots not free
};

enum class CorruptChunkKind : std::uint8_t {
  EmptyPalette,        // no palette entry at all
  PaletteTooLarge,     // more than 4096 entries
  MixedTableTooLarge,  // more than 65536 mixed slots
  IndexTooNarrow,      // more than one entry and a width that cannot address the last slot
  Indices,             // the stored words do not make a BitArray; source() says why
  IndexOutOfRange,     // a block names a slot past the palette
  IndexToFreeSlot,     // a block names a slot whose count is 0
  RefcountMismatch,    // a stored count differs from the blocks that name the slot
  DanglingMixedSlot,   // a live mixed entry names a mixed slot that is missing or free
  NonCanonicalPartial, // a live Partial of air, or with an empty, full or oversized mask
  BadMixedFree,        // the mixed free list names a slot past the table (mixed, len), twice,
                       // or one a live entry uses; checked by the blob decoder
};

// Why stored chunk parts do not make a chunk. Fields not used by a kind are 0.
struct CorruptChunk {
  CorruptChunkKind kind;
  std::size_t len = 0;         // PaletteTooLarge, MixedTableTooLarge, BadMixedFree
  std::uint8_t bits = 0;       // IndexTooNarrow
  std::size_t palette = 0;     // IndexTooNarrow, IndexOutOfRange: palette length;
                               // DanglingMixedSlot: the palette slot
  std::size_t block = 0;       // IndexOutOfRange, IndexToFreeSlot
  std::size_t slot = 0;        // IndexOutOfRange, IndexToFreeSlot, RefcountMismatch,
                               // NonCanonicalPartial
  std::uint32_t stored = 0;    // RefcountMismatch
  std::uint32_t counted = 0;   // RefcountMismatch
  std::uint16_t mixed = 0;     // DanglingMixedSlot, BadMixedFree
  SourcePtr cause;             // Indices: the BitArrayError

  std::string message() const;
  const ErrorSource* source() const { return cause.get(); }
  // `IndexTooNarrow { bits: 0, palette: 2 }`.
  std::string debug() const;
};

// A chunk as stored: what the blob holds, before validation.
struct ChunkParts {
  struct Entry {
    std::uint64_t content = 0;  // content word; REQUIRES: made by block::*_word
    std::uint32_t refs = 0;
    friend bool operator==(const Entry&, const Entry&) = default;
  };
  std::vector<Entry> palette;              // slot order, free slots included
  std::uint8_t index_width = 0;
  std::vector<std::uint64_t> index_words;  // BitArray words, 64 * index_width of them
  std::vector<Cells> mixed_cells;          // slot order, freed slots included
  std::vector<std::uint16_t> mixed_free;   // free stack, last entry reused first

  friend bool operator==(const ChunkParts&, const ChunkParts&) = default;
};

class Chunk {
 public:
  // Every block whole `m`: one entry with 4096 references, width 0, no mixed cells.
  static Chunk filled(coords::ChunkPos pos, MaterialId m);
  // The chunk filled(pos, base) becomes when each block, in index order, is set through
  // set_block_local to its cells (`cells(i, out)` writes block i's 27 cells, i = 0..4095): the
  // same palette slots, index width, mixed table and free slots, made in one pass.
  template <class F>
  static Chunk filled_in_order(coords::ChunkPos pos, MaterialId base, F&& cells) {
    return filled_in_order(pos, base, &cells, [](const void* f, std::uint16_t i, Cells& out) {
      (*static_cast<const std::remove_reference_t<F>*>(f))(i, out);
    });
  }
  // The same for whole blocks: filled(pos, blocks[0]) with each block set whole to blocks[i].
  // REQUIRES: 4096 materials.
  static Chunk filled_in_order(coords::ChunkPos pos, std::span<const MaterialId> blocks);

  // Rebuilds a chunk from stored parts, checking every invariant (first failure wins, in the
  // order of CorruptChunkKind's checks). The palette free stack becomes the free slots in
  // ascending order, so the highest is reused first; the mixed free stack is kept as stored,
  // except that slots past the table or repeated are dropped so they are never handed out.
  [[nodiscard]] static std::expected<Chunk, CorruptChunk> from_parts(coords::ChunkPos pos,
                                                                     ChunkParts parts);
  // The stored form: what from_parts takes back unchanged.
  ChunkParts to_parts() const;

  coords::ChunkPos position() const { return pos_; }

  // Absent when the block lies in another chunk. The view is valid until the next write.
  std::optional<block::BlockView> get_block(coords::BlockPos pos) const;
  // REQUIRES: each coordinate 0..15. One index lookup and one palette access.
  block::BlockView get_block_local(LocalPos local) const {
    return view_of(palette_[indices_.get(index_of(local))]);
  }
  // Cached face bits of the block's content. REQUIRES: each coordinate 0..15.
  std::uint8_t permeability_local(LocalPos local) const {
    return palette_[indices_.get(index_of(local))].permeability;
  }
  // The 27 cells of a block, copied. REQUIRES: each coordinate 0..15.
  Cells block_cells(LocalPos local) const { return get_block_local(local).cells(); }
  // Absent when the sub-node lies in another chunk; else that cell's material, 0 when empty.
  std::optional<MaterialId> get_subnode(coords::SubNodePos pos) const;

  // The one write: canonicalises `value` and points the block at a live entry of equal
  // content, making one when there is none (a freed slot first, else a new slot, widening the
  // indices when the new slot needs another bit). When the block's old entry loses its last
  // reference it is freed, with its mixed slot, and the chunk repacks when fewer bits do.
  // Allocates nothing when the content is already in the palette. REQUIRES: local coordinates.
  void set_block_local(LocalPos local, const block::BlockValue& value);
  // Sets one cell and writes the block back as a mixed value (canonicalised). Fails with this
  // chunk's position, changing nothing, when the sub-node lies in another chunk.
  std::expected<void, coords::ChunkPos> set_subnode(coords::SubNodePos pos, MaterialId m);

  // Slot order, free entries included. Valid until the next write.
  std::span<const PaletteEntry> palette() const { return palette_; }
  // Free palette slots as a stack, bottom first: the last one is reused next.
  std::span<const std::uint16_t> free_slots() const { return free_; }
  // Entries with a count above 0.
  std::uint32_t live_count() const { return live_; }
  // 4096 entries at index_width() bits; words() is the stored form.
  const bitpack::BitArray& indices() const { return indices_; }
  std::uint8_t index_width() const { return indices_.width(); }
  const MixedTable& mixed() const { return mixed_; }

  // Every block names a live slot within the palette; counts match the blocks and add up to
  // 4096; the width addresses every slot; live contents are canonical; live mixed entries name
  // live mixed slots; the free stack is exactly the free slots; the palette holds at most 4096
  // entries; the live count and the mixed table are consistent.
  bool check_invariants() const;

  friend bool operator==(const Chunk&, const Chunk&) = default;

 private:
  Chunk() = default;

  // Stops on a coordinate above 15, which would otherwise name another block.
  static std::uint16_t index_of(LocalPos local) {
    if ((local.x | local.y | local.z) > 15) [[unlikely]]
      local_out_of_range(local);
    return local.index();
  }
  [[noreturn]] static void local_out_of_range(LocalPos local);

  block::BlockView view_of(const PaletteEntry& e) const {
    switch (e.kind()) {
      case block::Kind::Whole:
        return block::BlockView::whole(e.material());
      case block::Kind::Partial:
        return block::BlockView::partial(e.material(), e.mask());
      case block::Kind::Mixed:
        return block::BlockView::mixed(mixed_.cells(e.mixed_slot()));
    }
    return {};
  }
  static Chunk filled_in_order(coords::ChunkPos pos, MaterialId base, const void* ctx,
                               void (*cells)(const void*, std::uint16_t, Cells&));
  // The pass both filled_in_order share: `word(b)` is block b's content word.
  template <class Word>
  static Chunk build_in_order(coords::ChunkPos pos, MaterialId base, Word&& word);
  std::uint64_t content_word(const block::BlockValue& canonical);
  std::uint16_t find_or_make_entry(std::uint64_t content);
  void release(std::uint16_t slot);
  void repack();

  coords::ChunkPos pos_;              // constant after construction
  std::vector<PaletteEntry> palette_; // by slot, at most 4096 entries between writes
  std::vector<std::uint16_t> free_;   // stack of palette slots with count 0
  std::uint32_t live_ = 0;            // palette entries with count above 0
  bitpack::BitArray indices_;         // 4096 palette slots, bits per entry 0..16
  MixedTable mixed_;
};

}  // namespace ostrel_core::chunk
