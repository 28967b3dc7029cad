#pragma once
// Streamer: which chunks one client should hold around its player, in full or as summaries, and
// what it has been sent. A plain computation over its own sets: it sends nothing and never waits.
//
// Regions around `centre`, with (dx, dy, dz) a chunk's offset from it:
//   view      |dy| <= view_v     and dx^2 + dz^2 <= view_h^2       wanted in full
//   summary   |dy| <= horizon_v  and dx^2 + dz^2 <= horizon_h^2    anything outside is forgotten
//   horizon   summary region, outside the view, |dy| <= 4           candidates for summaries
// Chunks are ranked by dx^2 + dz^2 + (4 * (max(|dy|, 2) - 2))^2 (interest::chunks_around).
//
// Invariants: a position is in at most one of `sent` and `summarised`; every key of `held` was in
// `in_flight` when its first edit was held.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "proto/frame.hpp"
#include "world/coords.hpp"
#include "world/lod.hpp"

namespace ostrel_server::transport::stream {

using ostrel_core::coords::ChunkPos;

inline constexpr std::size_t kMaxHeldEdits = 1024;       // per chunk; one more overflows the entry
inline constexpr std::size_t kSummaryScanBudget = 2048;  // horizon entries one next_summaries looks at
inline constexpr std::uint8_t kHorizonLayers = 4;        // |dy| of the horizon

// A block edit kept for a chunk still on its way, shared with the broadcast it came in.
using HeldMessage = std::shared_ptr<const ostrel_core::proto::Frame>;

namespace held {
struct Nothing {};
struct Edits {
  std::vector<HeldMessage> messages;  // in arrival order, at most kMaxHeldEdits
};
struct Overflowed {};  // more than kMaxHeldEdits arrived: the chunk must be sent again in full
}  // namespace held
using Held = std::variant<held::Nothing, held::Edits, held::Overflowed>;

// The smallest r with r^2 >= n, limited to the 32-bit range.
std::uint32_t ceil_sqrt(std::uint64_t n);

// The horizontal summary radius for a view distance: 1 for 0, 4 x view for 1..7, 32 from 8 on.
std::uint8_t horizon_h_for(std::uint8_t view_h);
// The vertical summary radius: the view distance limited to 1..16.
std::uint8_t horizon_v_for(std::uint8_t view_v);

class Streamer {
 public:
  Streamer(std::string domain, ChunkPos centre, std::uint8_t view_h, std::uint8_t view_v);

  // The next chunks to request in full, nearest first: at most max(limit, 1) are computed, none
  // returned when limit is 0. Records nearest_needed() either way.
  std::vector<ChunkPos> next_needed(std::size_t limit);
  // Up to `count` summaries to request, looking at no more than kSummaryScanBudget horizon
  // entries and resuming where the previous call stopped.
  std::vector<std::pair<ChunkPos, std::uint8_t>> next_summaries(std::size_t count);

  // The client now holds a summary of `pos` at `level`.
  void summarised(ChunkPos pos, std::uint8_t level);
  std::optional<std::uint8_t> summary_level(ChunkPos pos) const;
  bool is_in_flight(ChunkPos pos) const { return in_flight.contains(pos); }
  // `pos` is no longer known to be one opaque material: lifts the shadows it cast.
  void unseal(ChunkPos pos);
  // Something at `pos` changed what can be seen: shadowed chunks it may have hidden (its face
  // neighbours, and those whose box with the centre holds it) are looked at again.
  void lift_shadows(ChunkPos pos);
  // Keeps a block edit for an in-flight chunk; the edit after kMaxHeldEdits drops them all.
  void hold_edit(ChunkPos pos, HeldMessage message);

  // Each returns the chunks the client should unload (sorted, no duplicates); unchanged
  // arguments change nothing and return nothing.
  std::vector<ChunkPos> resize(std::uint8_t view_h, std::uint8_t view_v);
  std::vector<ChunkPos> recentre(ChunkPos centre);
  // Every chunk the client held in the old domain (full ones ascending, then summaries
  // ascending); the caller recentres afterwards.
  std::vector<ChunkPos> switch_to(std::string domain, ChunkPos centre);

  const std::string& domain() const { return domain_; }
  ChunkPos centre() const { return centre_; }
  std::uint8_t view_h() const { return view_h_; }
  std::uint8_t view_v() const { return view_v_; }
  std::uint8_t horizon_h() const { return horizon_h_; }
  std::uint8_t horizon_v() const { return horizon_v_; }
  const std::vector<ChunkPos>& horizon() const { return horizon_; }
  std::optional<std::uint64_t> nearest_needed() const { return nearest_needed_; }
  const std::set<ChunkPos>& shadowed() const { return shadowed_; }
  // The weighted squared distance of `pos` from the centre.
  std::uint64_t dist2(ChunkPos pos) const;

  // Updated by the connection task as it delivers chunks and forwards edits.
  std::set<ChunkPos> sent;                         // held by the client in full
  std::set<ChunkPos> in_flight;                    // requested, not yet answered
  std::map<ChunkPos, std::uint8_t> summarised_at;  // held by the client as a summary, by level
  std::set<ChunkPos> sealed;                       // in `sent` and one opaque material throughout
  std::map<ChunkPos, Held> held;                   // edits for in-flight chunks

 private:
  enum class Look : std::uint8_t { Skip, Needed, NotReady };
  Look look(ChunkPos pos, std::uint8_t& level) const;
  // Whether `pos` is seen through a sent chunk or from the centre; hidden ones go to `shadowed_`.
  bool visible(ChunkPos pos);
  bool in_view(ChunkPos pos) const;
  bool in_summary_region(ChunkPos pos) const;
  std::vector<ChunkPos> departed();
  // Rebuilds `horizon_` (and the view's order) around the centre; both cursors start over.
  void reorder_horizon();
  void set_radii(std::uint8_t view_h, std::uint8_t view_v);

  std::string domain_;
  std::vector<ChunkPos> horizon_;                // in interest order
  std::vector<ChunkPos> view_order_;             // the view in interest order
  std::set<ChunkPos> shadowed_;                  // judged hidden behind sealed chunks
  std::optional<std::size_t> resume_at_;         // index into horizon_ where the next scan starts first
  std::optional<std::uint64_t> nearest_needed_;  // dist^2 of the nearest chunk still needed in full
  ostrel_core::lod::Rings rings_;
  std::size_t horizon_cursor_ = 0;  // where the round-robin scan goes on
  ChunkPos centre_;
  std::uint8_t view_h_ = 0;  // chunks
  std::uint8_t view_v_ = 0;  // chunks
  std::uint8_t horizon_h_ = 1;
  std::uint8_t horizon_v_ = 1;
};

}  // namespace ostrel_server::transport::stream
