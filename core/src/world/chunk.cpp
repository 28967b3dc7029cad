#include "world/chunk.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <span>

#include "base/assert.hpp"
#include "light/permeability.hpp"

namespace ostrel_core::chunk {

namespace {

constexpr std::string_view kTarget = "ostrel_core::chunk";

// Bits that address slots 0..n-1; 0 for n below 2.
std::uint8_t width_for(std::size_t n) {
  return n < 2 ? 0 : static_cast<std::uint8_t>(std::bit_width(n - 1));
}

bool canonical_partial(MaterialId m, std::uint32_t mask) {
  return m != material::kAir && mask != 0 && mask < block::kOccupancyFull;
}

}  // namespace

std::uint64_t mixed_hash(const Cells& cells) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (MaterialId m : cells) {
    h = (h ^ (m & 0xFF)) * 0x100000001b3ull;
    h = (h ^ (m >> 8)) * 0x100000001b3ull;
  }
  return h;
}

// ---- MixedTable ----

std::optional<std::uint16_t> MixedTable::find(const Cells& cells) const {
  auto it = index_.find(mixed_hash(cells));
  if (it == index_.end() || cells_[it->second] != cells) return std::nullopt;
  return it->second;
}

std::uint16_t MixedTable::insert(const Cells& cells) {
  const std::uint64_t hash = mixed_hash(cells);
  if (auto it = index_.find(hash); it != index_.end() && cells_[it->second] == cells) return it->second;
  std::uint16_t slot;
  if (!free_.empty()) {
    slot = free_.back();
    free_.pop_back();
    cells_[slot] = cells;
  } else {
    if (cells_.size() >= kMaxSlots) {
      contract_stop(
          kTarget, "a chunk has 4096 blocks, so it cannot need more mixed slots than that");
    }
    slot = static_cast<std::uint16_t>(cells_.size());
    cells_.push_back(cells);
  }
  index_[hash] = slot;
  ++live_;
  return slot;
}

void MixedTable::release(std::uint16_t slot) {
  OSTREL_ASSERT(slot < cells_.size() && live_ > 0);
  auto it = index_.find(mixed_hash(cells_[slot]));
  if (it != index_.end() && it->second == slot) index_.erase(it);
  free_.push_back(slot);
  --live_;
}

bool MixedTable::check_invariants() const {
  std::vector<bool> freed(cells_.size(), false);
  for (std::uint16_t s : free_) {
    if (s >= cells_.size() || freed[s]) return false;
    freed[s] = true;
  }
  if (live_ != cells_.size() - free_.size()) return false;
  for (const auto& [hash, slot] : index_) {
    if (slot >= cells_.size() || freed[slot] || mixed_hash(cells_[slot]) != hash) return false;
  }
  return true;
}

// ---- CorruptChunk ----

std::string CorruptChunk::message() const {
  switch (kind) {
    case CorruptChunkKind::EmptyPalette:
      return "chunk palette is empty";
    case CorruptChunkKind::PaletteTooLarge:
      return fmt::format("chunk palette has {} entries, more than the 4096 blocks that could use them",
                         len);
    case CorruptChunkKind::MixedTableTooLarge:
      return fmt::format("mixed table has {} slots, more than a u16 slot index can address", len);
    case CorruptChunkKind::IndexTooNarrow:
      return fmt::format("index width {} cannot address a palette of {} entries", bits, palette);
    case CorruptChunkKind::Indices:
      return "packed block indices are malformed";
    case CorruptChunkKind::IndexOutOfRange:
      return fmt::format("block {} indexes palette slot {}, but the palette has {} entries", block,
                         slot, palette);
    case CorruptChunkKind::IndexToFreeSlot:
      return fmt::format("block {} indexes palette slot {}, which has no references", block, slot);
    case CorruptChunkKind::RefcountMismatch:
      return fmt::format("palette slot {} claims {} references but {} blocks use it", slot, stored,
                         counted);
    case CorruptChunkKind::DanglingMixedSlot:
      return fmt::format("palette slot {} references mixed slot {}, which is absent or freed",
                         palette, mixed);
    case CorruptChunkKind::NonCanonicalPartial:
      return fmt::format("palette slot {} holds a non-canonical Partial", slot);
    case CorruptChunkKind::BadMixedFree:
      return fmt::format(
          "mixed free list names slot {}, which is past the table's {} slots, listed twice or in use",
          mixed, len);
  }
  return {};
}

std::string CorruptChunk::debug() const {
  switch (kind) {
    case CorruptChunkKind::EmptyPalette:
      return "EmptyPalette";
    case CorruptChunkKind::PaletteTooLarge:
      return fmt::format("PaletteTooLarge {{ len: {} }}", len);
    case CorruptChunkKind::MixedTableTooLarge:
      return fmt::format("MixedTableTooLarge {{ len: {} }}", len);
    case CorruptChunkKind::IndexTooNarrow:
      return fmt::format("IndexTooNarrow {{ bits: {}, palette: {} }}", bits, palette);
    case CorruptChunkKind::Indices: {
      const auto* inner = source_as<bitpack::BitArrayError>(source());
      return fmt::format("Indices({})", inner ? inner->debug() : std::string("?"));
    }
    case CorruptChunkKind::IndexOutOfRange:
      return fmt::format("IndexOutOfRange {{ block: {}, slot: {}, palette: {} }}", block, slot,
                         palette);
    case CorruptChunkKind::IndexToFreeSlot:
      return fmt::format("IndexToFreeSlot {{ block: {}, slot: {} }}", block, slot);
    case CorruptChunkKind::RefcountMismatch:
      return fmt::format("RefcountMismatch {{ slot: {}, stored: {}, counted: {} }}", slot, stored,
                         counted);
    case CorruptChunkKind::DanglingMixedSlot:
      return fmt::format("DanglingMixedSlot {{ palette: {}, mixed: {} }}", palette, mixed);
    case CorruptChunkKind::NonCanonicalPartial:
      return fmt::format("NonCanonicalPartial {{ slot: {} }}", slot);
    case CorruptChunkKind::BadMixedFree:
      return fmt::format("BadMixedFree {{ mixed: {}, len: {} }}", mixed, len);
  }
  return {};
}

// ---- Chunk: construction ----

Chunk Chunk::filled(coords::ChunkPos pos, MaterialId m) {
  Chunk c;
  c.pos_ = pos;
  c.palette_.push_back({block::whole_word(m), static_cast<std::uint32_t>(kBlocks),
                        light::permeability(block::BlockView::whole(m))});
  c.live_ = 1;
  c.indices_ = bitpack::BitArray(kBlocks, 0);
  OSTREL_ASSERT(c.check_invariants());
  return c;
}

namespace {

// Palette slots by content word while a chunk is built in one pass: open addressing, grown at
// half load. Holds at most 4097 words.
class SlotIndex {
 public:
  SlotIndex() : keys_(64), slots_(64, kEmpty) {}

  std::uint16_t* find_or_add(std::uint64_t key, bool& added) {
    std::size_t i = probe(key);
    added = slots_[i] == kEmpty;
    if (added) {
      if (2 * (used_ + 1) > keys_.size()) {
        grow();
        i = probe(key);
      }
      keys_[i] = key;
      ++used_;
    }
    return &slots_[i];
  }

  static constexpr std::uint16_t kEmpty = 0xFFFF;

 private:
  std::size_t probe(std::uint64_t key) const {
    const std::size_t mask = keys_.size() - 1;
    std::size_t i = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 40) & mask;
    while (slots_[i] != kEmpty && keys_[i] != key) i = (i + 1) & mask;
    return i;
  }
  void grow() {
    std::vector<std::uint64_t> keys(keys_.size() * 2);
    std::vector<std::uint16_t> slots(keys_.size() * 2, kEmpty);
    std::swap(keys, keys_);
    std::swap(slots, slots_);
    for (std::size_t j = 0; j < keys.size(); ++j) {
      if (slots[j] != kEmpty) {
        const std::size_t i = probe(keys[j]);
        keys_[i] = keys[j];
        slots_[i] = slots[j];
      }
    }
  }

  std::vector<std::uint64_t> keys_;
  std::vector<std::uint16_t> slots_;
  std::size_t used_ = 0;
};

}  // namespace

// Block by block through set_block_local, slot 0 (the base) keeps a reference until the last
// block, every other entry only gains references, and new entries take new slots in order of
// first use: so the palette is the base, then each other content as first met, and the index
// width the one its last slot needs. Only when no block is the base does the last write free
// slot 0, which release() then settles as it would have.
template <class Word>
Chunk Chunk::build_in_order(coords::ChunkPos pos, MaterialId base, Word&& word) {
  Chunk c = filled(pos, base);
  c.palette_[0].refs = 0;
  SlotIndex index;
  bool added = false;
  std::uint64_t last = block::whole_word(base);
  std::uint16_t last_slot = 0;
  *index.find_or_add(last, added) = 0;
  std::vector<std::uint16_t> slots(kBlocks);
  for (std::size_t b = 0; b < kBlocks; ++b) {
    const std::uint64_t content = word(c, static_cast<std::uint16_t>(b));
    if (content != last) {
      std::uint16_t* slot = index.find_or_add(content, added);
      if (added) {
        if (c.palette_.size() >= kMaxSlots) {
          contract_stop(kTarget, "a chunk has 4096 blocks, so its palette cannot exceed 4096 entries");
        }
        PaletteEntry fresh{content, 0, 0};
        fresh.permeability = light::permeability(c.view_of(fresh));
        *slot = static_cast<std::uint16_t>(c.palette_.size());
        c.palette_.push_back(fresh);
        ++c.live_;
      }
      last = content;
      last_slot = *slot;
    }
    ++c.palette_[last_slot].refs;
    slots[b] = last_slot;
  }
  c.indices_ = bitpack::BitArray(kBlocks, width_for(c.palette_.size()));
  if (c.indices_.width() != 0) {
    for (std::size_t b = 0; b < kBlocks; ++b) c.indices_.set(b, slots[b]);
  }
  if (c.palette_[0].refs == 0) c.release(0);
  OSTREL_ASSERT(c.check_invariants());
  return c;
}

Chunk Chunk::filled_in_order(coords::ChunkPos pos, MaterialId base, const void* ctx,
                             void (*cells)(const void*, std::uint16_t, Cells&)) {
  Cells out;
  return build_in_order(pos, base, [&](Chunk& c, std::uint16_t b) {
    cells(ctx, b, out);
    // One material in all 27 cells is that material whole (air included), as canonical() has it.
    if (std::all_of(out.begin() + 1, out.end(), [&](MaterialId m) { return m == out[0]; })) {
      return block::whole_word(out[0]);
    }
    return c.content_word(block::BlockValue::mixed(out).canonical());
  });
}

Chunk Chunk::filled_in_order(coords::ChunkPos pos, std::span<const MaterialId> blocks) {
  OSTREL_ASSERT(blocks.size() == kBlocks);
  if (std::all_of(blocks.begin(), blocks.end(), [&](MaterialId m) { return m == blocks[0]; })) {
    return filled(pos, blocks[0]);
  }
  return build_in_order(pos, blocks[0],
                        [&](Chunk&, std::uint16_t b) { return block::whole_word(blocks[b]); });
}

namespace {

// Validation of the parts that need no chunk yet; first failure wins.
std::optional<CorruptChunk> check_palette_shape(const ChunkParts& p) {
  if (p.palette.empty()) return CorruptChunk{CorruptChunkKind::EmptyPalette};
  if (p.palette.size() > kBlocks) {
    return CorruptChunk{CorruptChunkKind::PaletteTooLarge, p.palette.size()};
  }
  if (p.palette.size() > 1 && p.index_width < width_for(p.palette.size())) {
    CorruptChunk e{CorruptChunkKind::IndexTooNarrow};
    e.bits = p.index_width;
    e.palette = p.palette.size();
    return e;
  }
  return std::nullopt;
}

// Entry `b` of the packed words at `width` (1..16); see base/bitpack.hpp for the layout.
std::uint32_t entry_at(std::span<const std::uint64_t> words, unsigned width, std::size_t b) {
  const std::size_t bit = b * width;
  const std::size_t w = bit >> 6;
  const unsigned off = bit & 63;
  std::uint64_t v = words[w] >> off;
  if (off + width > 64) v |= words[w + 1] << (64 - off);
  return static_cast<std::uint32_t>(v & ((std::uint64_t{1} << width) - 1));
}

// Adds every block to `counted` under its slot; false when a block names a slot past the
// palette or a free one (`counted` is then incomplete). Decoding runs this for every chunk
// loaded or sent. Up to width 12 every slot value has a counter, in four lanes (block b counts
// in lane b % 4) so that neither a branch per block nor an increment that waits on the one
// before slows the pass; the slots are checked once, after it.
bool count_slots(const bitpack::BitArray& indices, std::span<const ChunkParts::Entry> palette,
                 std::vector<std::uint32_t>& counted) {
  const unsigned width = indices.width();
  const auto words = indices.words();
  if (width == 0) {
    if (palette[0].refs == 0) return false;
    counted[0] = kBlocks;
    return true;
  }
  const auto usable = [&](std::uint32_t slot) { return slot < palette.size() && palette[slot].refs > 0; };
  if (width > 12) {  // a palette of at most 4096 entries at a width it does not need
    for (std::size_t b = 0; b < kBlocks; ++b) {
      const std::uint32_t slot = entry_at(words, width, b);
      if (!usable(slot)) return false;
      ++counted[slot];
    }
    return true;
  }
  constexpr std::size_t kLanes = 4;
  const std::size_t values = std::size_t{1} << width;
  std::vector<std::uint32_t> lanes(kLanes * values, 0);
  std::size_t b = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // The words in memory are then one bit stream, low bit first: entry b is the 8 bytes from
    // byte b * width / 8, shifted right by b * width % 8 (at most 7 + 16 bits, so within them).
    // The 8 bytes stay inside the words up to block 4096 - 64 / width.
    const auto* bytes = reinterpret_cast<const unsigned char*>(words.data());
    const std::uint64_t mask = values - 1;
    const std::size_t fast_end = kBlocks - 64 / width;
    for (; b + kLanes <= fast_end; b += kLanes) {
      for (std::size_t k = 0; k < kLanes; ++k) {
        const std::size_t bit = (b + k) * width;
        std::uint64_t v;
        std::memcpy(&v, bytes + (bit >> 3), sizeof v);
        ++lanes[k * values + ((v >> (bit & 7)) & mask)];
      }
    }
  }
  for (; b < kBlocks; ++b) ++lanes[(b % kLanes) * values + entry_at(words, width, b)];
  for (std::uint32_t slot = 0; slot < values; ++slot) {
    std::uint32_t total = 0;
    for (std::size_t k = 0; k < kLanes; ++k) total += lanes[k * values + slot];
    if (total == 0) continue;
    if (!usable(slot)) return false;
    counted[slot] = total;
  }
  return true;
}

}  // namespace

std::expected<Chunk, CorruptChunk> Chunk::from_parts(coords::ChunkPos pos, ChunkParts parts) {
  if (auto bad = check_palette_shape(parts)) return std::unexpected(std::move(*bad));
  auto indices = bitpack::BitArray::from_words(std::move(parts.index_words), kBlocks, parts.index_width);
  if (!indices) {
    CorruptChunk e{CorruptChunkKind::Indices};
    e.cause = make_source(indices.error());
    return std::unexpected(std::move(e));
  }
  if (parts.mixed_cells.size() > kMaxSlots) {
    return std::unexpected(CorruptChunk{CorruptChunkKind::MixedTableTooLarge, parts.mixed_cells.size()});
  }

  // The mixed table: slots past the end and repeats are dropped from the free stack, since
  // handing them out would overwrite an array in use.
  Chunk c;
  c.pos_ = pos;
  MixedTable& mt = c.mixed_;
  mt.cells_ = std::move(parts.mixed_cells);
  std::vector<bool> freed(mt.cells_.size(), false);
  for (std::uint16_t s : parts.mixed_free) {
    if (s >= mt.cells_.size() || freed[s]) continue;
    freed[s] = true;
    mt.free_.push_back(s);
  }
  for (std::size_t s = 0; s < mt.cells_.size(); ++s) {
    if (!freed[s]) mt.index_[mixed_hash(mt.cells_[s])] = static_cast<std::uint16_t>(s);
  }
  mt.live_ = mt.cells_.size() - mt.free_.size();

  const auto& pal = parts.palette;
  for (std::size_t slot = 0; slot < pal.size(); ++slot) {
    const auto& e = pal[slot];
    if (e.refs == 0) continue;
    const auto kind = block::word_kind(e.content);
    if (kind == block::Kind::Mixed) {
      const std::uint16_t ms = block::word_material(e.content);
      if (ms >= mt.cells_.size() || freed[ms]) {
        CorruptChunk err{CorruptChunkKind::DanglingMixedSlot};
        err.palette = slot;
        err.mixed = ms;
        return std::unexpected(std::move(err));
      }
    } else if (kind == block::Kind::Partial &&
               !canonical_partial(block::word_material(e.content), block::word_mask(e.content))) {
      CorruptChunk err{CorruptChunkKind::NonCanonicalPartial};
      err.slot = slot;
      return std::unexpected(std::move(err));
    }
  }

  std::vector<std::uint32_t> counted(pal.size(), 0);
  if (!count_slots(*indices, pal, counted)) {
    // Some block names a slot past the palette or a free one: find the first, block by block.
    for (std::size_t b = 0; b < kBlocks; ++b) {
      const std::uint32_t slot = indices->get(b);
      if (slot < pal.size() && pal[slot].refs > 0) continue;
      CorruptChunk err{slot >= pal.size() ? CorruptChunkKind::IndexOutOfRange
                                          : CorruptChunkKind::IndexToFreeSlot};
      err.block = b;
      err.slot = slot;
      if (slot >= pal.size()) err.palette = pal.size();
      return std::unexpected(std::move(err));
    }
  }
  for (std::size_t slot = 0; slot < pal.size(); ++slot) {
    if (pal[slot].refs != counted[slot]) {
      CorruptChunk err{CorruptChunkKind::RefcountMismatch};
      err.slot = slot;
      err.stored = pal[slot].refs;
      err.counted = counted[slot];
      return std::unexpected(std::move(err));
    }
  }

  c.indices_ = std::move(*indices);
  c.palette_.reserve(pal.size());
  for (std::size_t slot = 0; slot < pal.size(); ++slot) {
    PaletteEntry e{pal[slot].content, pal[slot].refs, 0};
    if (e.refs > 0) {
      e.permeability = light::permeability(c.view_of(e));
      ++c.live_;
    } else {
      c.free_.push_back(static_cast<std::uint16_t>(slot));
    }
    c.palette_.push_back(e);
  }
  // Ascending, so the highest free slot is reused first.
  OSTREL_ASSERT(c.check_invariants());
  return c;
}

ChunkParts Chunk::to_parts() const {
  ChunkParts p;
  p.palette.reserve(palette_.size());
  for (const auto& e : palette_) p.palette.push_back({e.content, e.refs});
  p.index_width = indices_.width();
  p.index_words.assign(indices_.words().begin(), indices_.words().end());
  p.mixed_cells = mixed_.cells_;
  p.mixed_free = mixed_.free_;
  return p;
}

// ---- Chunk: reads ----

void Chunk::local_out_of_range(LocalPos local) {
  contract_stop(
      kTarget, fmt::format("local block position ({}, {}, {}) is outside 0..=15", local.x, local.y,
                           local.z));
}

std::optional<block::BlockView> Chunk::get_block(coords::BlockPos pos) const {
  if (!pos_.contains(pos)) return std::nullopt;
  return get_block_local(pos.local());
}

std::optional<MaterialId> Chunk::get_subnode(coords::SubNodePos pos) const {
  if (!pos_.contains(pos)) return std::nullopt;
  return get_block_local(pos.block().local()).cell(pos.cell_index());
}

// ---- Chunk: writes ----

std::uint64_t Chunk::content_word(const block::BlockValue& v) {
  switch (v.kind()) {
    case block::Kind::Whole:
      return block::whole_word(v.material());
    case block::Kind::Partial:
      return block::partial_word(v.material(), v.mask());
    case block::Kind::Mixed:
      break;
  }
  // Only a table rebuilt from storage can be full of arrays no block uses; compact it first.
  if (mixed_.free_.empty() && mixed_.size() >= kMaxSlots && !mixed_.find(v.mixed_cells())) repack();
  return block::mixed_word(mixed_.insert(v.mixed_cells()));
}

std::uint16_t Chunk::find_or_make_entry(std::uint64_t content) {
  for (std::size_t slot = 0; slot < palette_.size(); ++slot) {
    auto& e = palette_[slot];
    if (e.refs > 0 && e.content == content) {
      ++e.refs;
      return static_cast<std::uint16_t>(slot);
    }
  }
  PaletteEntry fresh{content, 1, 0};
  fresh.permeability = light::permeability(view_of(fresh));
  ++live_;
  if (!free_.empty()) {
    const std::uint16_t slot = free_.back();
    free_.pop_back();
    palette_[slot] = fresh;
    return slot;
  }
  if (palette_.size() >= kMaxSlots) {
    contract_stop(
        kTarget, "a chunk has 4096 blocks, so its palette cannot exceed 4096 entries");
  }
  const auto slot = static_cast<std::uint16_t>(palette_.size());
  palette_.push_back(fresh);
  const auto needed = static_cast<std::uint8_t>(std::bit_width(slot));
  if (needed > indices_.width()) indices_ = indices_.resized(needed);
  return slot;
}

void Chunk::set_block_local(LocalPos local, const block::BlockValue& value) {
  const std::uint16_t index = index_of(local);
  const std::uint64_t content = content_word(value.canonical());
  const std::uint16_t slot = find_or_make_entry(content);
  const auto old = static_cast<std::uint16_t>(indices_.get(index));
  if (old == slot) {
    --palette_[slot].refs;
  } else {
    indices_.set(index, slot);
    if (--palette_[old].refs == 0) release(old);
  }
  OSTREL_ASSERT(check_invariants());
}

void Chunk::release(std::uint16_t slot) {
  const PaletteEntry& e = palette_[slot];
  if (e.kind() == block::Kind::Mixed) {
    // A chunk from storage may hold two live entries naming one mixed slot; the array stays
    // while any of them lives.
    const bool shared = std::any_of(palette_.begin(), palette_.end(), [&](const PaletteEntry& o) {
      return o.refs > 0 && o.kind() == block::Kind::Mixed && o.mixed_slot() == e.mixed_slot();
    });
    if (!shared) mixed_.release(e.mixed_slot());
  }
  free_.push_back(slot);
  --live_;
  if (indices_.width() > width_for(live_)) repack();
}

void Chunk::repack() {
  std::vector<PaletteEntry> packed;
  packed.reserve(live_);
  std::vector<std::uint16_t> remap(palette_.size(), 0);
  MixedTable table;
  for (std::size_t slot = 0; slot < palette_.size(); ++slot) {
    PaletteEntry e = palette_[slot];
    if (e.refs == 0) continue;
    if (e.kind() == block::Kind::Mixed) {
      e.content = block::mixed_word(table.insert(mixed_.cells(e.mixed_slot())));
    }
    remap[slot] = static_cast<std::uint16_t>(packed.size());
    packed.push_back(e);
  }
  const std::uint8_t width = width_for(packed.size());
  if (width != indices_.width()) {
    bitpack::BitArray fresh(kBlocks, width);
    if (width != 0) {
      for (std::size_t b = 0; b < kBlocks; ++b) fresh.set(b, remap[indices_.get(b)]);
    }
    indices_ = std::move(fresh);
  } else if (width != 0) {
    for (std::size_t b = 0; b < kBlocks; ++b) indices_.set(b, remap[indices_.get(b)]);
  }
  palette_ = std::move(packed);
  free_.clear();
  mixed_ = std::move(table);
  OSTREL_ASSERT(check_invariants());
}

std::expected<void, coords::ChunkPos> Chunk::set_subnode(coords::SubNodePos pos, MaterialId m) {
  if (!pos_.contains(pos)) return std::unexpected(pos_);
  const LocalPos local = pos.block().local();
  Cells cells = block_cells(local);
  const std::uint8_t cell = pos.cell_index();
  if (cells[cell] == m) return {};
  cells[cell] = m;
  set_block_local(local, block::BlockValue::mixed(cells));
  return {};
}

// ---- Chunk: invariants ----

bool Chunk::check_invariants() const {
  if (indices_.size() != kBlocks || indices_.width() > bitpack::kMaxWidth) return false;
  if (palette_.empty() || palette_.size() > kBlocks) return false;
  if (indices_.width() < width_for(palette_.size())) return false;
  std::vector<std::uint32_t> counted(palette_.size(), 0);
  for (std::size_t b = 0; b < kBlocks; ++b) {
    const std::uint32_t slot = indices_.get(b);
    if (slot >= palette_.size() || palette_[slot].refs == 0) return false;
    ++counted[slot];
  }
  std::vector<bool> mixed_freed(mixed_.size(), false);
  for (std::uint16_t s : mixed_.free_slots()) {
    if (s < mixed_freed.size()) mixed_freed[s] = true;
  }
  std::uint32_t live = 0;
  std::vector<std::uint16_t> free_expected;
  for (std::size_t slot = 0; slot < palette_.size(); ++slot) {
    const PaletteEntry& e = palette_[slot];
    if (e.refs != counted[slot]) return false;
    if (e.refs == 0) {
      free_expected.push_back(static_cast<std::uint16_t>(slot));
      continue;
    }
    ++live;
    switch (e.kind()) {
      case block::Kind::Whole:
        if (e.mask() != 0) return false;
        break;
      case block::Kind::Partial:
        if (!canonical_partial(e.material(), e.mask())) return false;
        break;
      case block::Kind::Mixed:
        if (e.mixed_slot() >= mixed_.size() || mixed_freed[e.mixed_slot()]) return false;
        break;
      default:
        return false;
    }
    if (e.permeability != light::permeability(view_of(e))) return false;
  }
  if (live != live_) return false;
  std::vector<std::uint16_t> free_sorted(free_.begin(), free_.end());
  std::sort(free_sorted.begin(), free_sorted.end());
  if (free_sorted != free_expected) return false;
  return mixed_.check_invariants();
}

}  // namespace ostrel_core::chunk
