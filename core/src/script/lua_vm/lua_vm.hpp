#pragma once
// LuaVm: the one implementation of the ScriptVm concept. One Lua 5.4 state with its memory
// limit (live bytes attributed to the mods that allocated them), its per-entry budget of
// instructions and charged native work (script/budget.hpp), the faulted-mod set, the mods'
// environments and the access slots through which `game` functions reach host services.
//
// Registry contract. Everything mods register lives in named values of the Lua registry,
// "ostrel.<name>"; create() makes every table listed below, empty, so installers and readers may
// rely on them existing:
//   settings:     ostrel.settings, ostrel.answers
//   content:      ostrel.blocks (block id -> material), ostrel.block_textures, ostrel.block_rules,
//                 ostrel.items, ostrel.views, ostrel.tools, ostrel.generators, ostrel.actions,
//                 ostrel.sounds, ostrel.fonts, ostrel.pictures, ostrel.mod_dirs,
//                 ostrel.hud_scripts, ostrel.bindings
//   world tables: ostrel.domain_generators, ostrel.domains, ostrel.fluids, ostrel.skies,
//                 ostrel.clouds, ostrel.models, ostrel.world_init, ostrel.maps
//   hook lists:   ostrel.tickers, ostrel.entity_steppers and the 22 of kHookLists (api/hooks.hpp)
//   values:       ostrel.next_material = 2 (0 and 1 are the engine's own), ostrel.frozen = false,
//                 ostrel.generating = false (true while a chunk is worked on: maps read-only)
// Handlers sit under "ostrel.{hook}.{mod}" (listed `on_use`: "ostrel.on_use.scoped.{mod}").
//
// Adding `game` functions. A content or runtime installer is a function of the engine that,
// given the mod id and the `game` table on the stack, sets C closures on it; it runs inside
// protect() so that a Lua failure becomes a `Vm` error, and its closures read arguments and
// raise refusals only through script/convert.hpp and script/api/fields.hpp. load_mod() calls
// the installers; state() gives them the lua_State.
//
// This header is the facade. The engine's internals live in the headers beside it, one per
// file of the engine: state.hpp (the state, protect, the faulted set; lua_vm.cpp), ref.hpp
// (LuaRef), slots.hpp (Slots), sandbox.hpp, events.hpp, dispatch.hpp (OwnerAnswer), exports.hpp
// and settings.hpp; the hook lists are in api/hooks.hpp. Only this header and convert.hpp are
// for use outside core/src/script (the callers that hand in event tables include ref.hpp).
// Each group of operations below names the file that defines it.
//
// Threading: one engine belongs to one thread at a time; every operation takes the state's
// re-entrant lock. The faulted set and the slots have their own mutexes because native
// functions hold shared handles on them.

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "world/chunk.hpp"
#include "world/coords.hpp"
#include "world/material.hpp"
#include "detgen/map.hpp"
#include "fluid/layer.hpp"
#include "modload/manifest.hpp"
#include "proto/records/sky.hpp"
#include "script/lua_vm/convert.hpp"
#include "script/vm.hpp"

struct lua_State;

// The service interfaces behind the access slots, defined by the subsystems that own them.
namespace ostrel_core::light { class LightSource; }
namespace ostrel_core::fluid { class Access; }
namespace ostrel_core::ent::access { class Access; }
namespace ostrel_core::domain { class Access; }
namespace ostrel_core::hud::state { class Access; }
namespace ostrel_core::atmosphere { class Access; }
namespace ostrel_core::inventory { class Containers; class Access; }
namespace ostrel_core::storage { class Access; }
namespace ostrel_core::plan { class Access; }
namespace ostrel_core::sight { class Access; }
namespace ostrel_core::path { class Access; }
namespace ostrel_core::dig { class Tools; }
namespace ostrel_core::sound { class Access; }
namespace ostrel_core::particle { class Access; }
namespace ostrel_core::ui::host { class Access; }

namespace ostrel_core::script {
// The star catalogue cache: defined by the star functions that fill and read it.
struct StarCatalogue;
}  // namespace ostrel_core::script

namespace ostrel_core::script::lua_vm {

// The engine's internal types the facade names; each is defined in the engine header of the
// file that owns it.
struct Slots;         // slots.hpp
class LuaRef;         // ref.hpp
struct OwnerAnswer;   // dispatch.hpp

// The engine's integer coercion, shared with the content functions.
using convert::whole_number;

// A generated chunk with the fluid its generators poured.
struct GeneratedChunk {
  chunk::Chunk chunk;
  fluid::layer::FluidLayer fluid;
};

// A chunk's tint: red, green, blue; 128 is the neutral multiplier 1.0.
using Tint = std::array<std::uint8_t, 3>;
inline constexpr Tint kNeutralTint{128, 128, 128};

// A mod's named map as the world keeps it.
struct SavedMap {
  std::string mod_id;
  std::string name;  // may hold any character, U+001F included
  detgen::map::Map map;
};

class LuaVm {
 public:
  struct Impl;

  LuaVm(LuaVm&&) noexcept;
  LuaVm& operator=(LuaVm&&) noexcept;
  LuaVm(const LuaVm&) = delete;
  LuaVm& operator=(const LuaVm&) = delete;
  ~LuaVm();

  // ---- Creation (lua_vm.cpp) ----------------------------------------------------------------

  // A new engine: every standard library but `debug`, the memory limit applied to the whole
  // state, the registry contract above. Every failure is `Vm`.
  [[nodiscard]] static std::expected<LuaVm, vm::ScriptError> create(std::uint64_t memory_limit,
                                                                    std::uint32_t budget);

  // The raw state, for the engine's own installers and for tests. REQUIRES: the caller runs on
  // the engine's thread and leaves the stack as it found it.
  lua_State* state() const;
  std::uint32_t budget() const;
  std::uint64_t memory_limit() const;
  std::uint64_t memory_used() const;

  // ---- Entries into mod code (lua_vm.cpp) ---------------------------------------------------

  // Arms the budget of an entry of the engine's own (charged to no mod; see script/budget.hpp)
  // and ends it, giving the interrupted entry back.
  std::expected<void, vm::ScriptError> arm_budget(std::uint32_t instructions);
  void disarm_budget();

  // Runs one entry: the function and its `nargs` arguments are on top of the stack. Armed with
  // `instructions` (units of the cost model) for `mod_id`, which is charged for what the entry
  // allocates; disarmed afterwards whatever happened; the failure is classified for `mod_id`
  // and `context` (the watchdog's stop is a Runtime failure with its own text). Entries nest:
  // an entry started while another runs has its own budget, and the outer one gets its count
  // back afterwards. On success the first result is left on the stack; on failure nothing is.
  std::expected<void, vm::ScriptError> call_entry(std::string_view mod_id, std::string_view context,
                                                  int nargs, std::uint32_t instructions);
  std::expected<void, vm::ScriptError> call_entry(std::string_view mod_id, std::string_view context,
                                                  int nargs) {
    return call_entry(mod_id, context, nargs, budget());
  }

  // ---- Mods (lua_vm.cpp) --------------------------------------------------------------------

  // Builds `mod_id`'s environment and `game` table, then runs `init_text` (text only; a chunk
  // with the bytecode signature is refused) as "@{directory}/init.lua" under the budget, with
  // the context "init.lua". On success the environment is kept. On failure the caller decides
  // what becomes of the mod (the mod host faults it); what it registered stays.
  std::expected<void, vm::ScriptError> load_mod(std::string_view mod_id, std::string_view init_text,
                                                std::string_view directory);
  // Pushes the environment of a loaded mod; false (nothing pushed) for an unknown mod.
  bool push_environment(std::string_view mod_id) const;

  // Sets the hook registration functions on the `game` table at `game_idx` (stack index).
  std::expected<void, vm::ScriptError> install_cancellable_hooks(std::string_view mod_id,
                                                                 int game_idx);
  std::expected<void, vm::ScriptError> install_world_init_hook(std::string_view mod_id,
                                                               int game_idx);
  std::expected<void, vm::ScriptError> install_entity_step_hook(std::string_view mod_id,
                                                                int game_idx);

  // Closes registration ("ostrel.frozen" = true) and warns once for every listed `on_use`
  // block that no mod registered.
  std::expected<void, vm::ScriptError> freeze();

  void add_reference_mod(std::string_view mod_id);
  void remove_reference_mod(std::string_view mod_id);
  bool is_reference_mod(std::string_view mod_id) const;

  // ---- Mod host support (script/host.hpp drives these while mods load) ----------------------

  // Records "ostrel.deps"[mod_id] = { dep = true, ... }. Never fails; failures are logged.
  // (exports.cpp)
  void note_dependencies(std::string_view mod_id, std::span<const std::string> dependencies);
  // Installs "ostrel.world_options": key "{mod}:{option}" -> text (choice) or boolean (toggle).
  // (settings.cpp, as are the two installers below)
  void set_world_options(
      std::span<const std::pair<std::string, modload::manifest::WorldOptionValue>> values);
  // Appends the manifest's settings of `mod_id` to "ostrel.settings", marked `manifest`.
  void declare_manifest_settings(std::string_view mod_id,
                                 std::span<const modload::manifest::ManifestSetting> settings);
  // Sets `register_setting` and `setting`, then `world_option`, on the `game` table at `game_idx`.
  std::expected<void, vm::ScriptError> install_settings(std::string_view mod_id, int game_idx);
  std::expected<void, vm::ScriptError> install_world_options(int game_idx);
  // Sets `export` and `exports` on the `game` table at `game_idx`. (exports.cpp)
  std::expected<void, vm::ScriptError> install_exports(std::string_view mod_id, int game_idx);
  // The runtime half of `game` on the table at `game_idx`, made for `mod_id`: load_mod calls it
  // after the registration functions and before `init.lua` runs. A failure to create or store a
  // function ends it at that step with `Vm`; keys stored before stay.
  std::expected<void, vm::ScriptError> install_frozen_api(std::string_view mod_id, int game_idx);

  // ---- Settings (settings.cpp) --------------------------------------------------------------

  // Every declared setting in declaration order, but the manifest settings of faulted mods.
  std::vector<vm::Setting> registered_settings() const;
  // Stores a player's answer. Only a declared setting id and a value in its range are taken
  // (an option index below the option count, 0 or 1 for a checkbox); false when refused.
  bool set_player_setting(const identity::PlayerUuid& player, std::string_view id,
                          std::uint32_t value);

  // ---- Periodic work (periodic.cpp) ---------------------------------------------------------

  // Calls every ticking mod's handler once with `dt_ticks`; the mods that failed, in order.
  std::expected<std::vector<vm::ModFault>, vm::ScriptError> tick(std::uint32_t dt_ticks);
  // Steps `mod_id`'s entities, each under a whole budget; stops at the first failing id.
  std::expected<std::optional<vm::ModFault>, vm::ScriptError> entity_step(
      std::string_view mod_id, std::span<const std::uint64_t> ids, std::uint32_t dt_ticks);
  vm::HookOutcome random_tick(const vm::RandomTickEvent& event);
  // The once-a-world pre-pass: each handler under 1024 budgets (saturating at 2^32 - 1).
  std::expected<std::vector<vm::ModFault>, vm::ScriptError> world_init();

  // ---- Player and world events (events.cpp) -------------------------------------------------

  vm::HookOutcome player_join(const vm::JoinEvent& event);
  // Runs the leave handlers, then drops the player's setting answers.
  vm::HookOutcome player_leave(const vm::JoinEvent& event);
  vm::HookOutcome player_move(const vm::MoveEvent& event);
  vm::HookOutcome chat(const vm::ChatArgs& args);
  vm::HookOutcome place(const vm::PlaceArgs& args);
  vm::HookOutcome punch(const vm::PunchArgs& args);
  vm::HookOutcome action(const vm::ActionArgs& args);
  vm::HookOutcome use_block(const vm::UseBlockArgs& args);
  vm::HookOutcome use_entity(const vm::UseEntityArgs& args);
  vm::HookOutcome dismounted(const vm::DismountEvent& event);
  vm::HookOutcome fluid_flow(const vm::FluidFlowEvent& event);
  vm::HookOutcome dialog_event(const vm::DialogEvent& event);

  // ---- Dispatch (dispatch.cpp) --------------------------------------------------------------

  vm::HookOutcome run_hook_over(std::string_view hook, std::span<const vm::DispatchEntry> entries,
                                const LuaRef& event, bool observe);
  // Asks every mod of the named list (unlisted handlers), in list order.
  vm::HookOutcome run_hook(std::string_view hook, std::string_view list, const LuaRef& event);
  // As run_hook, but refusals are not read and every handler is asked.
  vm::HookOutcome observe_hook(std::string_view hook, std::string_view list, const LuaRef& event);
  // The event table { entity, from, to }; the entity id crosses as its 64 bits taken as a
  // signed integer.
  vm::HookOutcome run_domain_hook(std::string_view hook, std::string_view list,
                                  std::uint64_t entity, std::string_view from, std::string_view to);
  // Asks only `owner`; a failure faults it and is logged. The answer is the caller's to read.
  OwnerAnswer run_owner_hook(std::string_view hook, std::string_view owner, const LuaRef& event);

  // { player = "<64 lowercase hex>" }.
  std::expected<LuaRef, vm::ScriptError> hook_event(std::span<const std::uint8_t, 32> player);
  // The player event table, then domain, x, y, z (sub-node cell), material and brush ("block",
  // "subnode" or "whole").
  std::expected<LuaRef, vm::ScriptError> dig_event_table(std::span<const std::uint8_t, 32> player,
                                                         std::string_view domain, std::int32_t x,
                                                         std::int32_t y, std::int32_t z,
                                                         std::uint16_t material,
                                                         std::string_view brush);

  // ---- Faulted set and handler lists (lua_vm.cpp) -------------------------------------------

  bool is_faulted(std::string_view mod_id) const;
  // Adds `mod_id` to the faulted set; a second fault changes nothing. Logs nothing.
  void fault(std::string_view mod_id);
  // The faulted set, ascending.
  std::vector<std::string> faulted_mods() const;
  // Why the engine disabled `mod_id` on its own account (it held the most memory when the
  // limit was reached); none for a mod faulted by a failure its caller reported, or not at all.
  std::optional<std::string> fault_reason(std::string_view mod_id) const;
  std::vector<std::string> entity_steppers() const;
  // The material ids that have a random tick handler, ascending.
  std::vector<std::uint16_t> random_tick_materials() const;

  // ---- Access slots and world values (slots.cpp) --------------------------------------------

  const Slots& slots() const;
  void set_light_source(std::shared_ptr<light::LightSource> s);
  void set_fluid_access(std::shared_ptr<fluid::Access> s);
  void set_entity_access(std::shared_ptr<ent::access::Access> s);
  void set_domain_access(std::shared_ptr<domain::Access> s);
  void set_hud_access(std::shared_ptr<hud::state::Access> s);
  void set_atmosphere_access(std::shared_ptr<atmosphere::Access> s);
  void set_container_access(std::shared_ptr<inventory::Containers> s);
  void set_storage_access(std::shared_ptr<storage::Access> s);
  void set_plan_access(std::shared_ptr<plan::Access> s);
  void set_world_edit(std::shared_ptr<vm::WorldEdit> s);
  void set_sight_access(std::shared_ptr<sight::Access> s);
  void set_path_access(std::shared_ptr<path::Access> s);
  void set_tools_access(std::shared_ptr<dig::Tools> s);
  void set_inventory_access(std::shared_ptr<inventory::Access> s);
  void set_sound_access(std::shared_ptr<sound::Access> s);
  void set_particle_access(std::shared_ptr<particle::Access> s);
  void set_dialog_access(std::shared_ptr<ui::host::Access> s);

  // Stores the seed and sets `game.world_seed` of every loaded mod (the 64 bits as a signed
  // integer). A mod whose `game` is not a table is logged and skipped.
  void set_world_seed(std::uint64_t seed);
  // Replaces "ostrel.fluid_ids" with a table of name -> id; a repeated name keeps the later id.
  void set_fluid_ids(std::span<const std::pair<std::string, std::uint8_t>> ids);

  // ---- Chunk generation (generate.cpp) -----------------------------------------------------
  //
  // While a generator, a tint or a fog callback runs, maps are read-only and `math.random` is
  // seeded from the world seed, the chunk position and the mod id, so that every engine makes
  // the same chunk whatever it ran before.

  // Runs the generators of `domain` on a buffer of `fill`: every mod's on_generate in order for
  // "overworld"; otherwise the generator registered for the domain, or for an instance
  // ("template/key") its template's; none leaves the buffer as it started. A generator that
  // fails faults its mod, is logged and fails the whole chunk.
  std::expected<GeneratedChunk, vm::ScriptError> generate_chunk(std::string_view domain,
                                                                std::uint64_t seed,
                                                                coords::ChunkPos pos,
                                                                material::MaterialId fill);

  // ---- Chunk tint and fog (looks.cpp) -------------------------------------------------------

  // Asks every tinting (fogging) mod in registration order; the last answer that is not nil
  // wins. A callback that fails or answers badly faults its mod and is logged; the others are
  // still asked. Fails only when the engine itself does.
  std::expected<Tint, vm::ScriptError> chunk_tint(std::string_view domain, std::uint64_t seed,
                                                  coords::ChunkPos pos);
  std::expected<std::optional<proto::ChunkFog>, vm::ScriptError> chunk_fog(std::string_view domain,
                                                                           std::uint64_t seed,
                                                                           coords::ChunkPos pos);
  // Sets `register_chunk_tint` and `register_chunk_fog` on the `game` table at `game_idx`.
  std::expected<void, vm::ScriptError> install_tint_registration(std::string_view mod_id,
                                                                 int game_idx);
  // A colour of three channels 0..1 as bytes: NaN gives 255, the rest clamped, times 255,
  // truncated.
  static proto::Rgb colour_bytes(float r, float g, float b);

  // ---- Saved maps (maps.cpp) ----------------------------------------------------------------

  // Installs `maps` into "ostrel.maps", each behind a new handle; a later map of the same mod
  // and name wins. A map that cannot be installed (its samples past the memory limit) is logged
  // and skipped. Answers how many were skipped: an engine without one of them would generate
  // terrain unlike the others'.
  [[nodiscard]] std::size_t load_maps(std::vector<SavedMap> maps);
  // A copy of every map the engine holds, in no particular order; poisoned maps are left out,
  // each logged.
  std::vector<SavedMap> take_maps() const;

  // ---- Registry read-back (lua_vm.cpp) ------------------------------------------------------

  // The type name (script/convert.hpp) of a named registry value; "nil" when absent.
  std::string registry_type(std::string_view name) const;
  // A named sequence read from 1 to the first nil, entries that are not strings skipped;
  // empty when the value is not a table.
  std::vector<std::string> registry_strings(std::string_view name) const;

 private:
  explicit LuaVm(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

static_assert(vm::ScriptVm<LuaVm>);

}  // namespace ostrel_core::script::lua_vm
