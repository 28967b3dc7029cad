#pragma once
// The records the player hub keeps and hands over: a player's simulation record, what travels
// in its queues, the chunk request with its one-shot reply, and the messages it holds for
// connection tasks, each encoded once where it is made.

#include <array>
#include <concepts>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "base/oneshot.hpp"
#include "building/dig/dig.hpp"
#include "building/dig/drops.hpp"
#include "building/place.hpp"
#include "entities/ride.hpp"
#include "hub/seed.hpp"
#include "identity/identity.hpp"
#include "movement/phys.hpp"
#include "movement/phys/input.hpp"
#include "proto/client.hpp"
#include "proto/frame.hpp"
#include "proto/server.hpp"
#include "world/coords.hpp"

namespace ostrel_server::transport::endpoint {

using ostrel_core::coords::ChunkPos;
using ostrel_core::identity::PlayerUuid;
using Vec3f = std::array<float, 3>;

// The eye is 4.86 cells above the feet of a player's body (phys::kPlayerShape).
inline constexpr float kEyeHeight = 4.86f;

// One connected player's simulation record.
struct PlayerSim {
  std::string domain;            // the domain the body is in
  ChunkPos chunk;                // the chunk the body stands in
  Vec3f local{};                 // feet, cells within `chunk` (0..48 on each axis)
  float yaw = 0.0f;              // facing as the client sent it, in turns; the tick converts it
  float pitch = 0.0f;            // turns
  std::uint64_t facing_seq = 0;  // the input sequence the facing came with
  Vec3f velocity{};              // cells per tick, kept by the movement step
  bool on_ground = false;        // kept by the movement step
  bool body_flag = false;        // the body's second flag, kept by the movement step
  ostrel_core::phys::input::InputQueue input;
  std::optional<std::string> tool;           // the id of the tool the player selected
  std::optional<ostrel_core::dig::Dig> dig;  // the dig in progress
  // A dig hook's drops for the current dig and the carry of 27ths, which lives as long as the
  // record: ending or moving a dig clears the drops only.
  ostrel_core::dig::drops::Yield yield;
  std::optional<ostrel_core::proto::AbilitiesDef> abilities;  // what a mod set; absent until set
  bool abilities_sent = false;
  bool wind_sky = true;  // the sky keys a mod allows; no wire field carries it
  std::optional<std::uint64_t> last_swing;  // the tick of the player's last swing
  std::uint64_t claim = 0;                  // the presence claim that made this record (0: made directly)
  std::optional<mount::Ride> riding;        // absent: not riding

  // A fresh record standing centred on the floor of block `spawn` in "overworld", its input
  // window starting at `tick`. Spawn (0, 1, 0): chunk (0, 0, 0), local (1.5, 3.0, 1.5).
  static PlayerSim at_spawn(BlockPos spawn, std::uint64_t tick);
  // (local.x, local.y + 4.86, local.z), relative to `chunk` even past its top.
  Vec3f eye() const { return {local[0], local[1] + kEyeHeight, local[2]}; }
};

// A body's domain and its box in cells relative to its chunk.
using BodyBox = ostrel_core::place::BodyBox;

// Where a player looks from: facing in turns, the chunk, feet and eye in cells.
struct Aim {
  float yaw = 0.0f;
  float pitch = 0.0f;
  ChunkPos chunk;
  Vec3f feet{};
  Vec3f eye{};
};

// One message for every connection task (or those whose player is in `domain`), encoded once;
// receivers share it.
using ostrel_core::proto::Broadcast;
using SharedBroadcast = std::shared_ptr<const Broadcast>;

// A server message struct: one that proto/server.hpp has an encoder for.
template <class M>
concept ServerRecord = requires(const M& m) {
  { ostrel_core::proto::encode(m) } -> std::same_as<ostrel_core::proto::Frame>;
};

// One message for a player's entity outbox, encoded where it is made. An EntityDespawn keeps its
// ids too: a replication overflow that discards it reports them.
struct EntityMessage {
  template <ServerRecord M>
  EntityMessage(const M& m)  // implicit: pushers pass the message structs themselves
      : frame(ostrel_core::proto::encode(m)) {
    if constexpr (std::is_same_v<M, ostrel_core::proto::server::EntityDespawn>) despawns = m.ids;
  }
  ostrel_core::proto::Frame frame;
  std::vector<std::uint64_t> despawns;  // the EntityDespawn's ids; empty for any other message
};

// A kick order: the connection task of `player` closes with `reason`.
struct Kick {
  PlayerUuid player;
  std::string reason;
};
using SharedKick = std::shared_ptr<const Kick>;

// The simulation's answer to a chunk request.
struct Served {
  std::vector<std::uint8_t> bytes;                 // the chunk blob, or the summary bytes
  std::optional<std::vector<std::uint8_t>> fluid;  // the fluid layer's wire form
  ostrel_core::proto::Rgb tint{};
  std::optional<ostrel_core::proto::ChunkFog> fog;
  bool solid = false;  // one opaque material throughout
};

// One connection's request for a chunk (or, with a level, its summary). An absent answer and a
// reply dropped unanswered both mean "not served".
struct ChunkRequest {
  std::string domain;
  ChunkPos pos;
  std::optional<std::uint8_t> level;
  ostrel_core::sync::oneshot::Sender<std::optional<Served>> reply;
};
using ServedReceiver = ostrel_core::sync::oneshot::Receiver<std::optional<Served>>;

// One `Place` message with its sender, copied unchanged (world material ids).
struct PlacementRequest {
  PlayerUuid player;
  SubNodePos target;
  std::uint16_t material = 0;
  std::uint32_t occupancy = 0;           // 27-bit cell mask
  std::array<std::uint8_t, 3> orient{};  // orientation flags
  std::optional<std::string> detail;
  std::vector<std::uint16_t> cells;  // empty, or 27 world ids
  friend bool operator==(const PlacementRequest&, const PlacementRequest&) = default;
};

// The records of the other queues, fields in queue order.
struct EditRequest {
  PlayerUuid player;
  ostrel_core::proto::Edit edit;
  friend bool operator==(const EditRequest&, const EditRequest&) = default;
};
struct PunchRequest {
  PlayerUuid player;
  std::uint64_t entity = 0;
  friend bool operator==(const PunchRequest&, const PunchRequest&) = default;
};
struct UseRequest {
  PlayerUuid player;
  std::optional<SubNodePos> target;
  friend bool operator==(const UseRequest&, const UseRequest&) = default;
};
struct ActionRequest {
  PlayerUuid player;
  std::string action;
  bool pressed = false;
  friend bool operator==(const ActionRequest&, const ActionRequest&) = default;
};
struct SettingChange {
  PlayerUuid player;
  std::string setting;
  std::uint32_t value = 0;
  friend bool operator==(const SettingChange&, const SettingChange&) = default;
};
struct ChatRequest {
  PlayerUuid player;
  std::string text;
  friend bool operator==(const ChatRequest&, const ChatRequest&) = default;
};
struct DialogEventRequest {
  PlayerUuid player;
  std::string form;
  ostrel_core::proto::DialogEvent event;
  friend bool operator==(const DialogEventRequest&, const DialogEventRequest&) = default;
};
struct SeedRequest {
  std::string domain;
  Seed seed;
  friend bool operator==(const SeedRequest&, const SeedRequest&) = default;
};

// One tick of a player's dig.
struct DigAdvance {
  std::uint32_t cells = 0;  // cells to remove now
  bool complete = false;    // every counted cell is removed
  bool first = false;       // the dig's first cells come off now
  friend bool operator==(const DigAdvance&, const DigAdvance&) = default;
};

// A dig as the tick walks it.
struct DigEntry {
  PlayerUuid player;
  SubNodePos target;
  std::uint8_t brush = 0;
  bool started = false;  // neither a tick counted nor a cell removed
  friend bool operator==(const DigEntry&, const DigEntry&) = default;
};

// What one list-form push of entity messages did.
struct EntityPush {
  bool overflow = false;  // the player's replication messages were discarded, the new ones too
  // The entity ids of every EntityDespawn discarded: the client never learned they left.
  std::vector<std::uint64_t> discarded_despawns;
};

}  // namespace ostrel_server::transport::endpoint
