#pragma once
// Replication: what one viewer's client is told about the entities near it. A Tracker remembers,
// per entity in view, what the client was last sent; each tick it compares the store with that
// and yields the spawns, departures, moves and hand changes to send.
//
// Poses are quantised for the wire. Yaw byte: q = yaw / 6.2831855 (f32), f = q - trunc(q), plus
// 1 when negative, byte = f * 256 truncated, at most 255; a yaw that is not finite gives 0
// (0 -> 0, pi -> 128, -pi/2 -> 192, 2 pi -> 0, a hair below 0 -> 255). Pitch byte: the pitch
// clamped to +-1.5707964, over 1.5707964, times 127, truncated (pi/2 -> 127, NaN -> 0).
//
// A move is sent when the chunk, yaw byte, pitch byte, anim or shown colour differs from what
// was last sent, or a local coordinate lies 1/12 cell or more from the last one sent. The
// comparison is with what the client has, not with the previous tick, so a body creeping at 0.05
// cells a tick is sent every second tick. Model, item, name tag, collider and health are not
// followed: the client keeps what the spawn carried until the entity leaves and comes back.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "movement/ent.hpp"

namespace ostrel_core::ent::replicate {

using component::Hands;
using component::Rgb;

// 1/12 cell, the nearest f32: 0.083333336.
inline constexpr float kMoveStep = 1.0f / 12.0f;

std::uint8_t yaw_byte(float yaw);
std::int8_t pitch_byte(float pitch);
// The tint, or while a flash runs, tint + (flash - tint) * left / total per channel in integers
// (the quotient truncated), limited to 0..=255: a (255, 0, 0) flash of 4 ticks over white shows
// (255, 128, 128) with 2 ticks left.
Rgb shown_colour(const Entity& e);

// What the client was last sent of one entity.
struct Sent {
  Hands hands;
  coords::ChunkPos chunk;
  std::array<float, 3> local{};  // cells
  std::uint8_t yaw = 0;          // yaw byte
  std::int8_t pitch = 0;         // pitch byte
  std::uint8_t anim = 0;
  Rgb colour;  // shown colour
  friend bool operator==(const Sent&, const Sent&) = default;
};

// An entity coming into view, with everything the client shows of it.
struct Spawn {
  std::optional<std::string> model;
  std::optional<inventory::Stack> item;
  Hands hands;
  std::optional<component::Nametag> nametag;
  EntityId id;
  component::Transform transform;  // yaw and pitch as floats
  std::optional<phys::Shape> collider;
  std::array<float, 3> velocity{};
  std::uint8_t anim = 0;
  Rgb colour;
  friend bool operator==(const Spawn&, const Spawn&) = default;
};

// A visible entity whose pose or look changed.
struct Delta {
  EntityId id;
  coords::ChunkPos chunk;
  std::array<float, 3> local{};
  std::array<float, 3> velocity{};
  std::uint8_t yaw = 0;
  std::int8_t pitch = 0;
  std::uint8_t anim = 0;
  Rgb colour;
  friend bool operator==(const Delta&, const Delta&) = default;
};

// A visible entity whose hands changed.
struct Armed {
  EntityId id;
  Hands hands;
  friend bool operator==(const Armed&, const Armed&) = default;
};

struct Update {
  std::vector<Spawn> spawns;   // slot order
  std::vector<EntityId> gone;  // ascending id
  std::vector<Delta> moves;    // slot order
  std::vector<Armed> armed;    // slot order
  bool empty() const { return spawns.empty() && gone.empty() && moves.empty() && armed.empty(); }
};

// The interest volume of one viewer: a disc of chunks `radius` wide stacked over `vertical`
// layers above and below the centre.
struct View {
  coords::ChunkPos centre;
  std::uint8_t radius = 0;      // chunks, horizontal
  std::uint8_t vertical = 0;    // chunk layers
  std::optional<EntityId> own;  // the viewer's own body, never shown to it
};

// Not locked: its owner, the tick, serialises every call.
class Tracker {
 public:
  // One pass over the store in slot order. `in_view` decides which ids the viewer may see at all
  // (the tick passes the test that the entity is in the viewer's domain).
  Update update(const Entities& store, const View& view, const std::function<bool(EntityId)>& in_view);

  // For a client whose queued messages were discarded: forgets what was sent, so the next update
  // spawns everything in view again, and keeps `missed` (the departures it may not have seen)
  // with every id it was shown: the next update reports each of them gone unless in view again.
  void clear(std::span<const EntityId> missed);

  // What the client was last sent of `id`; null when it is not in view.
  const Sent* sent(EntityId id) const;
  // Entities in view.
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    Sent sent;
    std::uint64_t pass = 0;  // the update that last found it in view
  };
  std::map<EntityId, Entry> entries_;
  std::vector<EntityId> unsure_;  // ascending: ids the client may still show after a clear
  std::uint64_t pass_ = 0;        // updates run
};

}  // namespace ostrel_core::ent::replicate
