#pragma once
// Placing: which cells of a block a placement fills, what it costs, how a carried shape turns to
// face the player, whether a body is in the way, and the edits that write it. Pure functions
// over 27-bit cell masks (bit x + 3y + 9z); every mask taken from outside is cut to 27 bits.
//
// Turning by the face and the eye's quadrant, carried cell (x, y, z) goes to:
//   face         quadrant  placed cell
//   none         any       (x, y, z)
//   top/bottom   0 1 2 3   (x, y, z) (z, y, 2-x) (2-x, y, 2-z) (2-z, y, x)
//   side         0 1 2 3   (x, 2-z, y) (z, x, y) (2-x, z, y) (2-z, 2-x, y)
// Quadrant of the eye's offset (x, z) from the block centre: |z| < |x| gives 1 (x >= 0) or 3;
// otherwise 0 (z >= 0) or 2. Example: cells 0, 1, 2 on a top face from +x become 18, 9, 0.

#include <array>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "building/inventory/stack.hpp"
#include "movement/phys.hpp"
#include "proto/records/edit.hpp"
#include "world/coords.hpp"

namespace ostrel_core::place {

using block::Cells;
using material::MaterialId;

// Why a placement was refused; text() is what the player is told.
enum class Refusal : std::uint8_t {
  NotCarrying,   // "you are not carrying any of that"
  Occupied,      // "there is already something there"
  BodyInTheWay,  // "someone is standing there"
  OnePiece,      // "that is one piece; it goes down whole or not at all"
  NotFlat,       // "this is not flat ground"
};
std::string_view text(Refusal refusal);

struct Placement {
  coords::BlockPos block;   // the block written
  std::uint32_t cells = 0;  // its cells to fill
  std::uint32_t units = 0;  // one per cell
  friend bool operator==(const Placement&, const Placement&) = default;
};

// The clicked face: all zero for none, y non-zero for top or bottom, otherwise a side.
using Face = std::array<std::int8_t, 3>;

// A body as the player hub reports one: its domain, chunk and box in local cells of that chunk.
struct BodyBox {
  std::string domain;
  coords::ChunkPos chunk;
  phys::Aabb box;
  friend bool operator==(const BodyBox&, const BodyBox&) = default;
};

// `units` carried; `shaped` with `shape` for a partial item (already turned); `single` for the
// one-cell brush; `occupied` the target block's cells that hold something.
std::expected<Placement, Refusal> plan(coords::SubNodePos target, std::uint32_t units, bool shaped,
                                       std::uint32_t shape, bool single, std::uint32_t occupied);
// A cut piece (its cells as oriented_cells turned them) goes down whole.
std::expected<Placement, Refusal> plan_cut(coords::SubNodePos target, std::uint32_t units, const Cells& cut);
// The first n cells of the mask in fill order; the mask itself when n covers it.
std::uint32_t trim(std::uint32_t cells, std::uint32_t n);
// 0..3 as above.
std::uint32_t quadrant(float x, float z);
std::uint32_t oriented(std::uint32_t shape, Face face, float x, float z);
Cells oriented_cells(const Cells& cells, Face face, float x, float z);
// Whether a cell of the mask lies in the box of a body in `domain`; bodies elsewhere never block.
bool blocks_a_body(coords::BlockPos block, std::uint32_t cells, std::string_view domain,
                   const std::vector<BodyBox>& boxes);
// The edits writing `cells` of `material`; `same` says every occupied cell holds `material`.
std::vector<proto::Edit> writes(coords::BlockPos block, std::uint32_t cells, MaterialId material,
                                std::uint32_t occupied, bool same);
// One entry per material of the cut, ascending, each seeing the cells written before it.
std::vector<std::pair<MaterialId, std::vector<proto::Edit>>> cut_writes(coords::BlockPos block,
                                                                        const Cells& cut,
                                                                        const Cells& present);

}  // namespace ostrel_core::place
