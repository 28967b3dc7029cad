#include "hub/hub.hpp"

#include <algorithm>
#include <memory>
#include <utility>
#include <variant>

#include "base/log.hpp"
#include "presentation/sky.hpp"
#include "transport/endpoint_proto.hpp"

namespace ostrel_server::transport::endpoint {

namespace proto = ostrel_core::proto;

PlayerSim PlayerSim::at_spawn(BlockPos spawn, std::uint64_t tick) {
  PlayerSim p{.domain = std::string(ostrel_core::domain::kOverworld),
              .chunk = spawn.chunk(),
              .input = ostrel_core::phys::input::InputQueue(tick)};
  p.local = {static_cast<float>((spawn.x & 15) * 3) + 1.5f, static_cast<float>((spawn.y & 15) * 3),
             static_cast<float>((spawn.z & 15) * 3) + 1.5f};
  return p;
}

namespace {
std::array<std::int64_t, 3> universe(const ostrel_core::domain::UniversalPos& p) { return {p.x, p.y, p.z}; }
}  // namespace

Shared::Shared(HubInit init)
    : tables_(std::move(init.tables)),
      material_map_(std::move(init.material_map)),
      content_(std::move(init.content)),
      operators_(std::move(init.operators)),
      control_(std::move(init.control)),
      cert_fingerprint_(init.cert_fingerprint),
      world_seed_(init.world_seed),
      mod_set_hash_(init.mod_set_hash),
      max_players_(init.max_players),
      view_distance_cap_(init.view_distance_cap),
      vertical_view_distance_cap_(init.vertical_view_distance_cap),
      day_length_(init.day_length),
      skies_(std::move(init.skies)),
      world_position_(universe(ostrel_core::sky::world_position(init.world_seed))),
      whole_materials_(std::move(init.whole_materials)),
      views_(std::move(init.views)),
      main_slots_(init.main_slots),
      slot_grain_(init.slot_grain),
      item_materials_(std::move(init.item_materials)),
      tools_(std::move(init.tools)),
      default_tool_(std::move(init.default_tool)),
      tool_speeds_(std::move(init.tool_speeds)),
      drops_(std::move(init.drops)),
      block_ids_(std::move(init.block_ids)),
      resistances_(std::move(init.resistances)),
      placing_materials_(std::move(init.placing_materials)),
      placing_exceptions_(std::move(init.placing_exceptions)),
      identities_(std::move(init.identities)),
      allowlist_(std::move(init.allowlist)),
      time_of_day_(init.time_of_day),
      players_(std::make_shared<Players>()) {}

std::shared_ptr<Shared> Shared::create(HubInit init) { return std::make_shared<Shared>(std::move(init)); }

// --- The world clock.

void Shared::advance_time_of_day() {
  if (day_length_ == 0) return;
  set_time_of_day((time_of_day() + 1) % day_length_);
}

float Shared::day_fraction() const {
  if (day_length_ == 0) return 0.0f;
  return static_cast<float>(time_of_day()) / static_cast<float>(day_length_);
}

// --- Presence.

void Shared::add_player(const PlayerUuid& player, BlockPos spawn) { add_player_claimed(player, spawn, 0); }

void Shared::add_player_claimed(const PlayerUuid& player, BlockPos spawn, std::uint64_t claim) {
  auto tick = control_->ticks();
  auto players = players_->lock();
  if (!players) return;
  // A claim never replaces the record of a newer one; a direct add (claim 0) always does.
  if (auto it = (*players)->find(player); claim != 0 && it != (*players)->end() && it->second.claim > claim)
    return;
  auto sim = PlayerSim::at_spawn(spawn, tick);
  sim.claim = claim;
  (*players)->insert_or_assign(player, std::move(sim));
}

void Shared::remove_player(const PlayerUuid& player) {
  if (auto players = players_->lock()) (*players)->erase(player);
  forget_player_state(player);
}

void Shared::forget_player_state(const PlayerUuid& player) {
  // One lock at a time, each released before the next.
  forget_hud_values(player);
  forget_sky_modifier(player);
  forget_precipitation(player);
  forget_rainbow(player);
  forget_clouds(player);
  if (auto g = notices_.lock()) (*g)->erase(player);
  if (auto g = particles_.lock()) (*g)->erase(player);
  if (auto g = badges_.lock()) (*g)->erase(player);
  if (auto g = entity_messages_.lock()) (*g)->erase(player);
  if (auto g = selected_slots_.lock()) (*g)->erase(player);
}

std::optional<std::uint64_t> Shared::owner_claim(const PlayerUuid& player) {
  if (auto online = online_.lock()) {
    auto it = (*online)->find(player);
    if (it == (*online)->end()) return std::nullopt;
    return it->second.claim;
  }
  if (auto players = players_->lock()) {
    auto it = (*players)->find(player);
    if (it == (*players)->end()) return std::nullopt;
    return it->second.claim;
  }
  return std::nullopt;
}

std::vector<std::pair<PlayerUuid, std::string>> Shared::online_players() {
  std::vector<std::pair<PlayerUuid, std::string>> out;
  auto online = online_.lock();
  if (!online) return out;
  out.reserve((*online)->size());
  for (const auto& [id, presence] : **online) out.emplace_back(id, presence.name);
  return out;
}

bool Shared::is_online(const PlayerUuid& player) {
  auto online = online_.lock();
  return online && (*online)->contains(player);
}

bool Shared::may_fly(const PlayerUuid& player) {
  const bool op = operators_.contains(player);
  auto players = players_->lock();
  if (!players) return op;
  auto it = (*players)->find(player);
  if (it == (*players)->end() || !it->second.abilities) return op;
  const auto& a = *it->second.abilities;
  return a.fly || (op && a.operator_fly);
}

// --- Per-player queries.

namespace {

// Runs `f` on the player's record under the players lock; absent without one.
template <class F>
auto with_record(Players& players, const PlayerUuid& player, F f)
    -> std::optional<decltype(f(std::declval<PlayerSim&>()))> {
  auto g = players.lock();
  if (!g) return std::nullopt;
  auto it = (*g)->find(player);
  if (it == (*g)->end()) return std::nullopt;
  return f(it->second);
}

}  // namespace

std::optional<ChunkPos> Shared::player_chunk(const PlayerUuid& player) {
  return with_record(*players_, player, [](const PlayerSim& p) { return p.chunk; });
}

std::optional<std::string> Shared::player_domain(const PlayerUuid& player) {
  return with_record(*players_, player, [](const PlayerSim& p) { return p.domain; });
}

std::optional<std::pair<std::string, ChunkPos>> Shared::player_place(const PlayerUuid& player) {
  return with_record(*players_, player, [](const PlayerSim& p) { return std::pair(p.domain, p.chunk); });
}

std::optional<std::pair<ChunkPos, Vec3f>> Shared::player_eye(const PlayerUuid& player) {
  return with_record(*players_, player, [](const PlayerSim& p) { return std::pair(p.chunk, p.eye()); });
}

std::optional<Aim> Shared::player_aim(const PlayerUuid& player) {
  return with_record(*players_, player, [](const PlayerSim& p) {
    return Aim{p.yaw, p.pitch, p.chunk, p.local, p.eye()};
  });
}

std::optional<proto::server::PlayerState> Shared::player_state(const PlayerUuid& player) {
  return with_record(*players_, player, [](const PlayerSim& p) {
    return proto::server::PlayerState{
        .sequence = p.input.last_taken(),
        .chunk = p.chunk,
        .position = p.local,
        .velocity = p.velocity,
        .on_ground = static_cast<std::uint8_t>(p.on_ground ? 1 : 0),
        .body_flag = static_cast<std::uint8_t>(p.body_flag ? 1 : 0),
        .riding = std::nullopt,
    };
  });
}

bool Shared::queue_input(const PlayerUuid& player, std::uint64_t sequence,
                         const ostrel_core::phys::Intent& intent, float yaw, float pitch) {
  auto taken = with_record(*players_, player, [&](PlayerSim& p) {
    if (sequence >= p.facing_seq) {
      p.yaw = yaw;
      p.pitch = pitch;
      p.facing_seq = sequence;
    }
    return p.input.offer(sequence, intent);
  });
  return taken.value_or(false);
}

// --- Whole-hub queries.

std::size_t Shared::players_in(std::string_view domain) {
  auto g = players_->lock();
  if (!g) return 0;
  return static_cast<std::size_t>(
      std::count_if((*g)->begin(), (*g)->end(), [&](const auto& e) { return e.second.domain == domain; }));
}

std::vector<BodyBox> Shared::body_boxes() {
  std::vector<BodyBox> out;
  auto g = players_->lock();
  if (!g) return out;
  out.reserve((*g)->size());
  const auto& shape = ostrel_core::phys::kPlayerShape;
  for (const auto& [id, p] : **g) {
    out.push_back({p.domain, p.chunk, ostrel_core::phys::Aabb::of_body(p.local, shape.width, shape.height)});
  }
  return out;
}

std::vector<std::pair<std::string, ChunkPos>> Shared::player_centres() {
  std::vector<std::pair<std::string, ChunkPos>> out;
  auto g = players_->lock();
  if (!g) return out;
  out.reserve((*g)->size());
  for (const auto& [id, p] : **g) out.emplace_back(p.domain, p.chunk);
  return out;
}

std::size_t Shared::chunks_in_flight_per_client() {
  std::size_t players = 0;
  if (auto g = players_->lock()) players = (*g)->size();
  if (players == 0) players = 1;
  return std::max<std::size_t>(2, 11 / players);
}

// --- Broadcasts and kicks.

proto::Frame Shared::encode_in_world_ids(proto::server::BlockEdit message) const {
  if (!material_map_.identity) std::visit([&](auto& e) { e.material = to_world(e.material); }, message.edit);
  return proto::encode(message);
}

std::uint16_t Shared::to_world(MaterialId runtime) const {
  if (material_map_.identity) return runtime;
  const auto& forward = material_map_.forward;
  if (runtime >= forward.size() || forward[runtime] == ostrel_core::persist::idmap::kUnmapped) {
    return ostrel_core::material::kUnknown;
  }
  return forward[runtime];
}

void Shared::send_broadcast(std::optional<std::string_view> domain, proto::Frame frame,
                            std::optional<ChunkPos> chunk) {
  if (auto fits = frame.check(); !fits) {
    OSTREL_ERROR("ostrel_server::transport::endpoint", "could not encode a broadcast; it is dropped",
                 ostrel_core::log::text("message", frame.name()),
                 ostrel_core::log::text("error", fits.error().message()));
    return;
  }
  auto to = domain ? std::optional<std::string>(*domain) : std::nullopt;
  broadcasts_.send(std::make_shared<const Broadcast>(std::move(to), chunk, std::move(frame)));
}

// Nobody to tell: skip the encoding as well.
void Shared::broadcast(proto::server::BlockEdit message) {
  if (broadcasts_.receiver_count() == 0) return;
  const ChunkPos chunk = chunk_of(message.edit);
  send_broadcast(std::nullopt, encode_in_world_ids(std::move(message)), chunk);
}

void Shared::broadcast_in(std::string_view domain, proto::server::BlockEdit message) {
  if (broadcasts_.receiver_count() == 0) return;
  const ChunkPos chunk = chunk_of(message.edit);
  send_broadcast(domain, encode_in_world_ids(std::move(message)), chunk);
}

bool Shared::kick(const PlayerUuid& player, std::string reason) {
  return kicks_.send(std::make_shared<const Kick>(Kick{player, std::move(reason)}));
}

}  // namespace ostrel_server::transport::endpoint
