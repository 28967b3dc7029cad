#pragma once
// The player hub (`Shared`): where connection tasks, the simulation thread and the console
// meet. Connection tasks push what clients ask for into bounded queues; the tick drains them
// once a tick and leaves per-player messages and values for the connection tasks to send.
//
// Locks: every mutable field has its own poisoning mutex, held for one short step; an operation
// holds one at a time except in the orders below. A lock that saw a failure stays poisoned;
// operations then treat its data as unavailable: queries answer absent, empty or 0, pushes
// refuse, takes return nothing, and nothing throws again.
//
// Lock order: `inventories` before `inventory_dirty` (debit and click_slot); `players` before
// `particles` or `badges` (the particle service).
//
// Bounds: the action queues hold at most 4096 entries each (the 4097th push is refused), the
// chunk request queue takes a request while fewer than 512 wait, a player's outboxes hold 60
// replication messages and 256 single messages, 256 bursts, badges for 64 entities and 256
// notices. Nothing a client sends grows the hub past these.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/broadcast.hpp"
#include "base/once_cell.hpp"
#include "base/sync.hpp"
#include "building/dig/drops.hpp"
#include "building/dig/hardness.hpp"
#include "building/inventory/slots.hpp"
#include "hub/bounded_queue.hpp"
#include "hub/edit_queue.hpp"
#include "hub/init.hpp"
#include "hub/records.hpp"
#include "identity/identity.hpp"
#include "modload/content.hpp"
#include "persist/idmap.hpp"
#include "presentation/atmosphere.hpp"
#include "presentation/hud/state.hpp"
#include "presentation/particle.hpp"
#include "proto/server.hpp"
#include "script/read/records.hpp"
#include "session/registry.hpp"
#include "sim/control.hpp"
#include "sync/async_mutex.hpp"
#include "world/domain.hpp"

namespace ostrel_server::transport::endpoint {

inline constexpr std::size_t kChunkRequestCap = 512;
inline constexpr std::size_t kChunkBatch = 22;
inline constexpr std::size_t kSummaryBatch = 5;
inline constexpr std::size_t kBroadcastCapacity = 1024;
inline constexpr std::size_t kKickCapacity = 64;
inline constexpr std::size_t kMaxReplicationMessages = 60;
inline constexpr std::size_t kMaxSingleMessages = 256;
inline constexpr std::size_t kMaxBursts = 256;
inline constexpr std::size_t kMaxBadgeEntities = 64;
inline constexpr std::size_t kMaxNotices = 256;
inline constexpr BlockPos kSpawn{0, 1, 0};

using PlayerMap = std::map<PlayerUuid, PlayerSim>;
using Players = ostrel_core::sync::Mutex<PlayerMap>;
using DomainRegistry = ostrel_core::sync::RwLock<ostrel_core::domain::Registry>;
using ostrel_core::inventory::Stack;
using ostrel_core::inventory::slots::Slots;
using HudMap = std::map<std::string, ostrel_core::hud::state::Value>;

class Shared final : public plans::EditQueue {
 public:
  explicit Shared(HubInit init);
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;
  // The one hub of a server, behind its shared handle.
  static std::shared_ptr<Shared> create(HubInit init);

  // --- Fixed at build.
  ostrel_server::sync::AsyncMutex<ostrel_core::session::registry::IdentityRegistry>& identities() {
    return identities_;
  }
  const LoginTables& tables() const { return tables_; }
  const ostrel_core::persist::idmap::MaterialMap& material_map() const { return material_map_; }
  const ostrel_core::content::ContentIndex& content() const { return content_; }
  ostrel_core::sync::RwLock<ostrel_core::identity::Allowlist>& allowlist() { return allowlist_; }
  const std::set<PlayerUuid>& operators() const { return operators_; }
  const sim::Control& control() const { return control_; }
  const std::array<std::uint8_t, 32>& cert_fingerprint() const { return cert_fingerprint_; }
  std::uint64_t world_seed() const { return world_seed_; }
  std::uint64_t mod_set_hash() const { return mod_set_hash_; }
  std::uint32_t max_players() const { return max_players_; }
  std::uint8_t view_distance_cap() const { return view_distance_cap_; }
  std::uint8_t vertical_view_distance_cap() const { return vertical_view_distance_cap_; }
  BlockPos spawn() const { return kSpawn; }
  const std::map<MaterialId, std::uint32_t>& whole_materials() const { return whole_materials_; }
  const std::vector<ostrel_core::inventory::slots::ViewDef>& views() const { return views_; }
  std::optional<std::size_t> main_slots() const { return main_slots_; }
  std::uint32_t slot_grain() const { return slot_grain_; }
  // The registered items that are materials: copied into every player's slots, and refused by
  // placing and uses. One set under both names.
  const std::set<MaterialId>& slot_item_materials() const { return item_materials_; }
  const std::set<MaterialId>& item_materials() const { return item_materials_; }
  const std::map<std::string, Tool>& tools() const { return tools_; }
  const std::optional<std::string>& default_tool() const { return default_tool_; }
  const ostrel_core::script::records::ToolSpeeds& tool_speeds() const { return tool_speeds_; }
  const std::map<MaterialId, ostrel_core::dig::drops::DropList>& drops() const { return drops_; }
  const std::map<std::string, MaterialId, std::less<>>& block_ids() const { return block_ids_; }
  const ostrel_core::dig::hardness::Table& resistances() const { return resistances_; }
  const std::set<MaterialId>& placing_materials() const { return placing_materials_; }
  const std::set<MaterialId>& placing_exceptions() const { return placing_exceptions_; }
  // The domain registry, set once by the simulation thread while it opens the world.
  ostrel_core::sync::SetOnce<std::shared_ptr<DomainRegistry>>& domains() { return domains_; }

  // --- The world clock. Only the simulation thread writes it.
  std::uint32_t day_length() const { return day_length_; }
  std::uint64_t time_of_day() const { return time_of_day_.load(std::memory_order_relaxed); }
  void set_time_of_day(std::uint64_t t) { time_of_day_.store(t, std::memory_order_relaxed); }
  // One tick on: (time + 1) mod the day length; held when the day length is 0.
  void advance_time_of_day();
  // time / day length as a 32-bit float; 0 when the day length is 0.
  float day_fraction() const;

  // --- Presence.
  // PlayerSlots alive (acquire load; claims and drops add with acquire-release).
  std::uint32_t online_count() const { return online_count_.load(std::memory_order_acquire); }
  // A fresh record at `spawn` in "overworld", replacing one held under the id.
  void add_player(const PlayerUuid& player, BlockPos spawn);
  // Removes the record, the presentation values and what waits for the player (notices,
  // particles, badges, entity messages, the selected slot). The inventory stays: the tick
  // saves and forgets it.
  void remove_player(const PlayerUuid& player);
  // (id, display name) of the presence map, in id order.
  std::vector<std::pair<PlayerUuid, std::string>> online_players();
  bool is_online(const PlayerUuid& player);
  // The abilities a mod set, else whether the player is an operator: `fly`, or operator and
  // `operator_fly`. A poisoned lock answers "operator".
  bool may_fly(const PlayerUuid& player);
  // The shared handle on the records, for the lease and the population.
  const std::shared_ptr<Players>& players() const { return players_; }

  // --- Per-player queries: absent for a player without a record or a poisoned lock.
  std::optional<ChunkPos> player_chunk(const PlayerUuid& player);
  std::optional<std::string> player_domain(const PlayerUuid& player);
  std::optional<std::pair<std::string, ChunkPos>> player_place(const PlayerUuid& player);
  std::optional<std::pair<ChunkPos, Vec3f>> player_eye(const PlayerUuid& player);
  std::optional<Aim> player_aim(const PlayerUuid& player);
  // The player's PlayerState: last sequence taken, chunk, feet, velocity, the body flags.
  std::optional<ostrel_core::proto::server::PlayerState> player_state(const PlayerUuid& player);
  // Takes the facing when `sequence` is not older than the newest seen, then offers the intent
  // to the player's input queue and answers its verdict; false without a record.
  bool queue_input(const PlayerUuid& player, std::uint64_t sequence, const ostrel_core::phys::Intent& intent,
                   float yaw, float pitch);

  // --- Whole-hub queries: 0 or empty on a poisoned lock.
  // Records whose domain equals `domain` byte for byte.
  std::size_t players_in(std::string_view domain);
  // Every body with its domain, for placing: only bodies in the placing domain are in the way.
  std::vector<BodyBox> body_boxes();
  std::vector<std::pair<std::string, ChunkPos>> player_centres();
  // Full-chunk requests one connection may have out: 11 / players, at least 2.
  std::size_t chunks_in_flight_per_client();

  // --- Broadcasts and kicks. Sending never waits; with nobody subscribed it is discarded
  // unencoded. A message over the frame limit is logged and goes nowhere.
  ostrel_core::sync::broadcast::Receiver<SharedBroadcast> subscribe_broadcasts() const {
    return broadcasts_.subscribe();
  }
  ostrel_core::sync::broadcast::Receiver<SharedKick> subscribe_kicks() const { return kicks_.subscribe(); }
  // To every connection. A BlockEdit's material goes out in the world's ids.
  template <ServerRecord M>
  void broadcast(const M& message) {
    if (broadcasts_.receiver_count() != 0) send_broadcast(std::nullopt, ostrel_core::proto::encode(message));
  }
  void broadcast(ostrel_core::proto::server::BlockEdit message);
  // To the connections whose player is in `domain`, with the same translation.
  template <ServerRecord M>
  void broadcast_in(std::string_view domain, const M& message) {
    if (broadcasts_.receiver_count() != 0) send_broadcast(domain, ostrel_core::proto::encode(message));
  }
  void broadcast_in(std::string_view domain, ostrel_core::proto::server::BlockEdit message);
  // True when at least one connection task is subscribed.
  bool kick(const PlayerUuid& player, std::string reason);

  // --- Queues from connection tasks. Each answers whether the record was queued.
  bool queue_edit(const PlayerUuid& player, ostrel_core::proto::Edit edit);
  bool queue_punch(const PlayerUuid& player, std::uint64_t entity);
  bool queue_use(const PlayerUuid& player, std::optional<SubNodePos> target);
  // Refused, without touching the queue, for an id the action table does not list.
  bool queue_action(const PlayerUuid& player, std::string action, bool pressed);
  bool queue_setting_change(const PlayerUuid& player, std::string setting, std::uint32_t value);
  bool queue_chat(const PlayerUuid& player, std::string text);
  bool queue_dialog_event(const PlayerUuid& player, std::string form, ostrel_core::proto::DialogEvent event);
  bool queue_placement(PlacementRequest request);

  // --- Seeds and merges (the plans' EditQueue). A whole material's rules refuse for good,
  // logging at WARN with `material`; a full queue answers Full; a poisoned one Refused.
  plans::Queued queue_seed(std::string_view domain, const Seed& seed) override;
  plans::Queued queue_merge(std::string_view domain, BlockPos pos, MaterialId material,
                            std::uint32_t mask) override;
  bool is_whole(MaterialId material) const override;

  // --- Drains, for the tick: every record in arrival order; empty when poisoned.
  std::vector<SeedRequest> drain_seeds() { return seeds_.drain(); }
  std::vector<EditRequest> drain_edits() { return edits_.drain(); }
  std::vector<PlacementRequest> drain_placements() { return placements_.drain(); }
  std::vector<UseRequest> drain_uses() { return uses_.drain(); }
  std::vector<PunchRequest> drain_punches() { return punches_.drain(); }
  std::vector<ActionRequest> drain_actions() { return actions_.drain(); }
  std::vector<SettingChange> drain_setting_changes() { return setting_changes_.drain(); }
  std::vector<ChatRequest> drain_chat() { return chat_.drain(); }
  std::vector<DialogEventRequest> drain_dialog_events() { return dialog_events_.drain(); }

  // --- Chunk requests.
  // The reply's receiving end; absent when 512 or more wait or the lock is poisoned.
  std::optional<ServedReceiver> request_chunk_at(std::string_view domain, ChunkPos pos,
                                                 std::optional<std::uint8_t> level);
  std::size_t queued_chunk_requests();
  // This tick's batch: at most 22 requests, at most 5 of them summaries; what stays keeps its
  // order.
  std::vector<ChunkRequest> take_chunk_requests();
  // Puts requests back in front of every request queued since, in their order; no limit.
  void requeue_chunk_requests(std::vector<ChunkRequest> requests);

  // --- Per-player outboxes, taken by the player's connection task.
  // Replication messages (spawns, moves, hands, despawns). When the player's replication
  // messages then pass 60, every one of them is discarded (single messages stay).
  EntityPush push_entity_messages(const PlayerUuid& player, std::vector<EntityMessage> messages);
  // One single message (a dialog, a sound, a slot selection): true when refused because 256
  // wait. A poisoned lock drops it and answers false.
  bool push_entity_message(const PlayerUuid& player, EntityMessage message);
  // The same, answering whether the outbox took the message (false when full or poisoned).
  bool offer_entity_message(const PlayerUuid& player, EntityMessage message);
  // Every frame waiting, in the order pushed.
  std::vector<ostrel_core::proto::Frame> take_entity_messages(const PlayerUuid& player);
  // A chat line for one player: false when the player is not online or 256 lines wait.
  bool tell(const PlayerUuid& player, std::string text);
  std::vector<std::string> take_notices(const PlayerUuid& player);
  // False when 256 bursts wait (the burst is dropped).
  bool queue_particles(const PlayerUuid& player, const ostrel_core::particle::Burst& burst);
  std::vector<ostrel_core::particle::Burst> take_particles(const PlayerUuid& player);
  // The latest badge per entity; false for a 65th entity.
  bool queue_badge(const PlayerUuid& player, const ostrel_core::particle::Badge& badge);
  // In ascending entity id.
  std::vector<ostrel_core::particle::Badge> take_badges(const PlayerUuid& player);
  // The hotbar slot the player selected (written by the connection task).
  void select_slot(const PlayerUuid& player, std::size_t slot);
  std::optional<std::size_t> selected_slot(const PlayerUuid& player);

  // --- Inventories. A poisoned lock reads as "the player has nothing": counts 0, lists empty,
  // can_carry false. Only `debit` holds two locks: `inventories`, then `inventory_dirty`.
  // An empty inventory as a new player gets it: the views, main slots, item set and grain.
  Slots fresh_slots() const;
  void ensure_inventory(const PlayerUuid& player);
  // Stores `slots` (with the hub's item set and grain) and marks the player dirty.
  void restore_inventory(const PlayerUuid& player, Slots slots);
  void forget_inventory(const PlayerUuid& player);
  std::vector<std::pair<PlayerUuid, Slots>> all_inventories();
  std::optional<Slots> slots_of(const PlayerUuid& player);
  // The consolidated stacks of "player:main", or of `view`.
  std::vector<Stack> inventory_of(const PlayerUuid& player);
  std::vector<Stack> contents_of(const PlayerUuid& player, std::string_view view);
  // Units that did not go in: all of them for a player not in the world; with a slot, all or
  // nothing. A player without an inventory gets a fresh one first.
  std::uint32_t give(const PlayerUuid& player, std::string_view view, std::optional<std::size_t> slot,
                     Stack stack);
  // Click 0 left, 1 right, 2 shift-left (into `other`, or "player:main" when `other` is the
  // clicked view; without one, stow by 9), 3 shift-right. True when anything moved.
  bool click_slot(const PlayerUuid& player, std::string_view view, std::size_t slot, std::uint8_t click,
                  std::optional<std::string_view> other);
  bool swap_offhand(const PlayerUuid& player, std::size_t slot);
  bool return_held(const PlayerUuid& player);
  // Puts a stack back on the cursor's side; what fits nowhere is logged and handed back.
  std::optional<Stack> untake_held(const PlayerUuid& player, Stack stack);
  std::optional<Stack> take_held(const PlayerUuid& player, std::uint32_t mode);
  void mark_inventory_dirty(const PlayerUuid& player);
  // fn(Slots&) on the player's slots under the inventories lock, answering its result; none for
  // a player without slots or a poisoned lock. fn may mark the player dirty (lock order).
  template <class F>
  auto with_slots(const PlayerUuid& player, F&& fn) -> std::optional<std::invoke_result_t<F, Slots&>> {
    auto g = inventories_.lock();
    if (!g) return std::nullopt;
    auto it = (*g)->find(player);
    if (it == (*g)->end()) return std::nullopt;
    return std::forward<F>(fn)(it->second);
  }
  // Whether the player was dirty; the mark is cleared.
  bool take_inventory_dirty(const PlayerUuid& player);
  // Units taken like `like` from `view` (from `slot` on, or anywhere).
  std::uint32_t take(const PlayerUuid& player, std::string_view view, std::optional<std::size_t> slot,
                     const Stack& like, std::uint32_t units);
  // Units taken like `like` from "player:main".
  std::uint32_t debit(const PlayerUuid& player, const Stack& like, std::uint32_t units);
  // Puts the stacks into "player:main" (a fresh inventory when there is none) and answers what
  // did not fit; nothing is dropped here. Marks the player dirty.
  std::vector<Stack> credit(const PlayerUuid& player, std::vector<Stack> stacks);
  // Whether every stack would fit in "player:main"; true without an inventory.
  bool can_carry(const PlayerUuid& player, const std::vector<Stack>& stacks);
  // The stacks in the selected hotbar slot (0 when none) and in the off hand (slot 27).
  std::pair<std::optional<Stack>, std::optional<Stack>> hands_of(const PlayerUuid& player);
  // In the world's material ids: an id the map cannot name becomes 1.
  ostrel_core::proto::StackDef wire_stack(const Stack& stack) const;
  // One ContainerView per view of the player's inventory.
  std::vector<ostrel_core::proto::server::ContainerView> view_updates(const PlayerUuid& player);

  // --- Tools and digs, under the players lock.
  // The tool of `id`, else the default tool, else none.
  std::optional<Tool> resolve_tool(const std::optional<std::string>& id) const;
  // An id no tool has counts as none; the player's dig ends. False, and nothing done, for a
  // player not present or a poisoned lock.
  bool select_tool(const PlayerUuid& player, std::optional<std::string> id);
  // The brush of the player's resolved tool; 0 without a record or a tool.
  std::uint8_t place_brush(const PlayerUuid& player);
  // Starts, moves or (with no target, or no tool) ends the player's dig. Ending, and a move
  // that discards progress, clear the dig hook's drops; the carry stays.
  void set_dig(const PlayerUuid& player, std::optional<SubNodePos> target);
  void make_dig_whole(const PlayerUuid& player);
  // One tick of the player's dig; (0, false, false) without a dig or a tool.
  DigAdvance advance_dig(const PlayerUuid& player, std::uint32_t cells, MaterialId material, float hardness);
  std::optional<ostrel_core::proto::server::DigProgress> dig_progress(const PlayerUuid& player);
  // Every dig, in player order.
  std::vector<DigEntry> digs_in_progress();
  // A dig hook's answer (block name, units per block): names nobody registered are left out
  // with a WARN naming the `block`; none makes the block's own drops apply again.
  void set_dig_drops(const PlayerUuid& player,
                     const std::optional<std::vector<std::pair<std::string, std::uint32_t>>>& drops);
  // What the removed stacks would earn the player, on a copy of its yield; the input itself for
  // a player not present.
  std::vector<Stack> would_yield(const PlayerUuid& player, const std::vector<Stack>& removed);
  // The same, on the player's own yield.
  std::vector<Stack> yield_of(const PlayerUuid& player, const std::vector<Stack>& removed);
  float block_hardness_of(MaterialId material) const;
  float block_hardness_of(const ostrel_core::block::Cells& cells) const;

  // --- Presentation: the latest value per player with a sent mark. A set equal to a value
  // already sent changes nothing; a poll hands the value out once.
  void set_sky_modifier(const PlayerUuid& player, std::optional<ostrel_core::atmosphere::SkyModifier> v);
  void set_precipitation(const PlayerUuid& player, std::optional<ostrel_core::atmosphere::Precipitation> v);
  void set_rainbow(const PlayerUuid& player, std::optional<ostrel_core::atmosphere::Rainbow> v);
  void set_clouds(const PlayerUuid& player, std::optional<ostrel_core::atmosphere::Clouds> v);
  void set_cloud_map(const PlayerUuid& player, std::optional<ostrel_core::atmosphere::CloudMap> v);
  // The whole list of one HUD slot (a mod's), replacing what it held.
  void set_hud_values(const PlayerUuid& player, std::string_view slot, HudMap values);
  // The value as its message when it has not been handed out since it was set.
  std::optional<ostrel_core::proto::server::SetSkyModifier> unsent_sky_modifier(const PlayerUuid& player);
  std::optional<ostrel_core::proto::server::SetPrecipitation> unsent_precipitation(const PlayerUuid& player);
  std::optional<ostrel_core::proto::server::SetRainbow> unsent_rainbow(const PlayerUuid& player);
  std::optional<ostrel_core::proto::server::SetClouds> unsent_clouds(const PlayerUuid& player);
  std::optional<ostrel_core::proto::server::SetCloudMap> unsent_cloud_map(const PlayerUuid& player);
  // One HudValues per slot not yet sent, in slot name order, values in name order.
  std::vector<ostrel_core::proto::server::HudValues> unsent_hud_values(const PlayerUuid& player);
  void forget_sky_modifier(const PlayerUuid& player);
  void forget_precipitation(const PlayerUuid& player);
  void forget_rainbow(const PlayerUuid& player);
  // The clouds and the cloud map.
  void forget_clouds(const PlayerUuid& player);
  void forget_hud_values(const PlayerUuid& player);

  // --- Runtime skies, from the domain registry once the simulation thread has set it.
  // The registry's sky revision; 0 before the registry is set or when its lock is poisoned.
  std::uint64_t sky_revision();
  // Whether the registry holds a runtime sky under exactly `domain`; false before it is set.
  bool has_runtime_sky(std::string_view domain);
  // The SkyTable of `domain`: its runtime sky and place among the stars from the registry when
  // set, else the registered sky at the world's own place.
  ostrel_core::proto::server::SkyTable sky_table_for(std::string_view domain);
  // The overworld's registered sky at the world's place, as a login receives it.
  ostrel_core::proto::server::SkyTable login_sky() const;
  const skies::SkyBook& skies() const { return skies_; }

 private:
  friend class PlayerSlot;
  friend struct HubProbe;  // tests: reaches the locks to poison them

  struct Presence {
    std::string name;     // the display name the player joined under
    std::uint64_t claim;  // which PlayerSlot owns the entry
  };
  // The latest value of one presentation kind for one player.
  template <class T>
  struct Latest {
    std::optional<T> value;
    bool sent = false;
  };
  template <class T>
  using LatestMap = ostrel_core::sync::Mutex<std::map<PlayerUuid, Latest<T>>>;
  struct HudSlot {
    HudMap values;
    bool sent = false;
  };
  // What waits for one player in `entity_messages`.
  struct EntityOutbox {
    std::vector<ostrel_core::proto::Frame> frames;  // in the order appended
    std::vector<bool> replication;                  // per frame: pushed in list form
    std::size_t replicated = 0;                     // list-form frames held
    std::size_t singles = 0;                        // single frames held
    std::vector<std::uint64_t> despawns;            // the ids of the list-form EntityDespawns held
  };

  // What became of one single message offered to a player's outbox.
  enum class Single : std::uint8_t { Taken, Full, Poisoned };
  Single push_single(const PlayerUuid& player, EntityMessage message);

  void add_player_claimed(const PlayerUuid& player, BlockPos spawn, std::uint64_t claim);
  // Drops the player's per-player leftovers and presentation values.
  void forget_player_state(const PlayerUuid& player);
  // The claim that owns the presence now, when known.
  std::optional<std::uint64_t> owner_claim(const PlayerUuid& player);
  // Shares the frame with every subscribed connection; a frame over the limit is logged instead.
  // A block edit carries its chunk, so that connections hold it back until the chunk is sent.
  void send_broadcast(std::optional<std::string_view> domain, ostrel_core::proto::Frame frame,
                      std::optional<ChunkPos> chunk = std::nullopt);
  // A material in the world's ids: 1 for one the map cannot name, unchanged by an identity map.
  std::uint16_t to_world(MaterialId runtime) const;
  // A BlockEdit's frame, its material in the world's ids.
  ostrel_core::proto::Frame encode_in_world_ids(ostrel_core::proto::server::BlockEdit message) const;
  plans::Queued push_seed(std::string_view domain, Seed seed);
  void mark_dirty(const PlayerUuid& player);
  // The speed of the player's resolved tool on `material`.
  float speed_of(const Tool& tool, MaterialId material) const;
  std::vector<Stack> earn(ostrel_core::dig::drops::Yield& yield, const std::vector<Stack>& removed) const;
  template <class T>
  static void set_latest(LatestMap<T>& map, const PlayerUuid& player, std::optional<T> value);
  // The unsent value of `map` as message M, marked sent.
  template <class M, class T>
  static std::optional<M> take_unsent(LatestMap<T>& map, const PlayerUuid& player);

  // Constant after construction.
  const LoginTables tables_;
  const ostrel_core::persist::idmap::MaterialMap material_map_;
  const ostrel_core::content::ContentIndex content_;
  const std::set<PlayerUuid> operators_;
  const sim::Control control_;
  const std::array<std::uint8_t, 32> cert_fingerprint_;
  const std::uint64_t world_seed_;
  const std::uint64_t mod_set_hash_;
  const std::uint32_t max_players_;
  const std::uint8_t view_distance_cap_;
  const std::uint8_t vertical_view_distance_cap_;
  const std::uint32_t day_length_;
  const skies::SkyBook skies_;
  const std::array<std::int64_t, 3> world_position_;  // the world's place among the stars
  const std::map<MaterialId, std::uint32_t> whole_materials_;
  const std::vector<ostrel_core::inventory::slots::ViewDef> views_;
  const std::optional<std::size_t> main_slots_;
  const std::uint32_t slot_grain_;
  const std::set<MaterialId> item_materials_;
  const std::map<std::string, Tool> tools_;
  const std::optional<std::string> default_tool_;
  const ostrel_core::script::records::ToolSpeeds tool_speeds_;
  const std::map<MaterialId, ostrel_core::dig::drops::DropList> drops_;
  const std::map<std::string, MaterialId, std::less<>> block_ids_;
  const ostrel_core::dig::hardness::Table resistances_;
  const std::set<MaterialId> placing_materials_;
  const std::set<MaterialId> placing_exceptions_;

  // Locks of their own.
  ostrel_server::sync::AsyncMutex<ostrel_core::session::registry::IdentityRegistry> identities_;
  ostrel_core::sync::RwLock<ostrel_core::identity::Allowlist> allowlist_;
  ostrel_core::sync::SetOnce<std::shared_ptr<DomainRegistry>> domains_;

  // Atomics.
  std::atomic<std::uint64_t> time_of_day_;
  std::atomic<std::uint32_t> online_count_{0};
  std::atomic<std::uint64_t> next_claim_{1};

  // Channels: one sender each; every connection task subscribes.
  const ostrel_core::sync::broadcast::Sender<SharedBroadcast> broadcasts_{kBroadcastCapacity};
  const ostrel_core::sync::broadcast::Sender<SharedKick> kicks_{kKickCapacity};

  // Queues, each behind its own mutex.
  BoundedQueue<EditRequest> edits_;
  BoundedQueue<PunchRequest> punches_;
  BoundedQueue<UseRequest> uses_;
  BoundedQueue<ActionRequest> actions_;
  BoundedQueue<SettingChange> setting_changes_;
  BoundedQueue<ChatRequest> chat_;
  BoundedQueue<DialogEventRequest> dialog_events_;
  BoundedQueue<SeedRequest> seeds_;
  BoundedQueue<PlacementRequest> placements_;
  ostrel_core::sync::Mutex<std::deque<ChunkRequest>> chunk_requests_;

  // Per-player state, each behind its own mutex.
  ostrel_core::sync::Mutex<std::map<PlayerUuid, Presence>> online_;
  ostrel_core::sync::Mutex<std::map<PlayerUuid, std::vector<std::string>>> notices_;
  ostrel_core::sync::Mutex<std::map<PlayerUuid, std::vector<ostrel_core::particle::Burst>>> particles_;
  ostrel_core::sync::Mutex<std::map<PlayerUuid, std::map<std::uint64_t, ostrel_core::particle::Badge>>>
      badges_;
  ostrel_core::sync::Mutex<std::map<PlayerUuid, EntityOutbox>> entity_messages_;
  ostrel_core::sync::Mutex<std::map<PlayerUuid, std::size_t>> selected_slots_;
  ostrel_core::sync::Mutex<std::map<PlayerUuid, Slots>> inventories_;
  ostrel_core::sync::Mutex<std::set<PlayerUuid>> inventory_dirty_;
  ostrel_core::sync::Mutex<std::map<PlayerUuid, std::map<std::string, HudSlot, std::less<>>>> hud_;
  LatestMap<ostrel_core::atmosphere::SkyModifier> sky_modifiers_;
  LatestMap<ostrel_core::atmosphere::Precipitation> precipitation_;
  LatestMap<ostrel_core::atmosphere::Rainbow> rainbows_;
  LatestMap<ostrel_core::atmosphere::Clouds> clouds_;
  LatestMap<ostrel_core::atmosphere::CloudMap> cloud_maps_;
  const std::shared_ptr<Players> players_;
};

}  // namespace ostrel_server::transport::endpoint
