#pragma once
// What scripts ask of the lent world about sight: whether one point sees another, what a block
// holds, where a column's top is, what a player's crosshair is on and which way it looks. The
// server answers on its lease handle; the script functions turn the answers into values.
//
// Units: blocks (whole or fractional), cells (three to a block), a chunk 16 blocks and 48 cells.
// A refusal is an answer (none, blocked, not loaded); no query changes the world.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "identity/identity.hpp"
#include "movement/ent.hpp"
#include "world/block.hpp"
#include "world/coords.hpp"
#include "world/material.hpp"

namespace ostrel_core::sight {

using coords::BlockPos;
using coords::ChunkPos;
using coords::SubNodePos;
using material::MaterialId;
using Vec3d = std::array<double, 3>;
using Vec3f = std::array<float, 3>;

// The longest sight line: 64 blocks, compared squared.
inline constexpr double kMaxSightSquared = 4096.0;
// A player's eye above its feet, and how far an aim reaches, in cells.
inline constexpr float kEyeHeight = 4.86f;
inline constexpr float kReach = 13.5f;
// A sight line no longer than this (2^-23 cells) is clear.
inline constexpr float kShortestLine = 1.1920929e-7f;

// ---- block_at ----
// One material with the cells it fills (bit x + 3y + 9z); air reads as material 0, mask 0.
struct Block {
  MaterialId material = 0;
  std::uint32_t occupancy = 0;
  friend bool operator==(const Block&, const Block&) = default;
};
// 27 cell materials, 0 for an empty cell.
struct Mixed {
  block::Cells cells{};
  friend bool operator==(const Mixed&, const Mixed&) = default;
};
struct NotLoaded {
  friend bool operator==(const NotLoaded&, const NotLoaded&) = default;
};
struct NoWorld {
  friend bool operator==(const NoWorld&, const NoWorld&) = default;
};
using Reading = std::variant<Block, Mixed, NotLoaded, NoWorld>;

// ---- surface_at ----
struct SurfaceBlock {
  std::int32_t y = 0;
  std::uint32_t occupancy = 0;  // 27-bit mask
  MaterialId material = 0;
  friend bool operator==(const SurfaceBlock&, const SurfaceBlock&) = default;
};
// An empty block holding fluid: level in bits 0-4, fluid id in bits 5-8.
struct SurfaceFluid {
  std::int32_t y = 0;
  std::uint16_t state = 0;
  friend bool operator==(const SurfaceFluid&, const SurfaceFluid&) = default;
};
using Surface = std::variant<SurfaceBlock, SurfaceFluid>;

struct SurfaceQuery {
  std::int32_t x = 0;
  std::int32_t z = 0;
  std::int32_t from = 0;    // the top block y scanned
  std::uint32_t depth = 0;  // blocks scanned downward, at most 256 of them
  bool skip_passable = false;
  bool skip_fluid = false;
};
inline constexpr std::uint32_t kMaxSurfaceDepth = 256;

// ---- looking_at, aim ----
// A cell hit: its absolute position, the face the ray entered through (one axis +1 or -1).
struct LookedCell {
  std::string domain;
  SubNodePos cell;
  std::array<std::int32_t, 3> face{};
  MaterialId material = 0;
  friend bool operator==(const LookedCell&, const LookedCell&) = default;
};
struct LookedEntity {
  std::string domain;
  ent::EntityId entity;
  std::optional<identity::PlayerUuid> owner;
  friend bool operator==(const LookedEntity&, const LookedEntity&) = default;
};
using Looked = std::variant<LookedCell, LookedEntity>;

// ---- gaze ----
struct Gaze {
  std::string domain;
  Vec3f direction{};  // unit
  friend bool operator==(const Gaze&, const Gaze&) = default;
};

// Two points in one chunk's frame: the first point's chunk, both points in cells from its corner
// (the second may lie outside 0..48).
struct Frame {
  ChunkPos chunk;
  Vec3f from{};
  Vec3f to{};
  friend bool operator==(const Frame&, const Frame&) = default;
};

// None for a non-finite coordinate or points more than 64 blocks apart (exactly 64 is accepted).
std::optional<Frame> frame(const Vec3d& from, const Vec3d& to);

// The unit look direction of a facing in turns (1.0 a whole turn), from the table sine and
// cosine: yaw 0 looks along +z, a positive yaw turns toward -x, a positive pitch looks up.
Vec3f look_direction(float yaw_turns, float pitch_turns);

class Access {
 public:
  virtual ~Access() = default;
  // None without a world; otherwise true when the segment is blocked, false when it is clear.
  virtual std::optional<bool> line_of_sight(std::string_view domain, const Vec3d& from, const Vec3d& to) = 0;
  virtual Reading block_at(std::string_view domain, BlockPos pos) = 0;
  // The first block (or, unless skipped, fluid) down the column; none past the scan.
  virtual std::optional<Surface> surface_at(std::string_view domain, const SurfaceQuery& query) = 0;
  // What a connected player's crosshair is on.
  virtual std::optional<Looked> looking_at(const identity::PlayerUuid& player) = 0;
  // A connected player's domain and look direction; needs no world.
  virtual std::optional<Gaze> gaze(const identity::PlayerUuid& player) = 0;
};

}  // namespace ostrel_core::sight
