#pragma once
// The script engine interface: the error of one entry into a script, the answer of one hook
// dispatch, the world-edit service and the `ScriptVm` concept that callers are generic over.
// `LuaVm` (script/lua_vm.hpp) is the one implementation; there is no dynamic dispatch.

#include <array>
#include <concepts>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "world/coords.hpp"
#include "base/error.hpp"
#include "identity/identity.hpp"
#include "building/inventory/stack.hpp"
#include "proto/records/dialog.hpp"

namespace ostrel_core::script::vm {

// The backend name every `Vm` error of the Lua engine carries.
inline constexpr std::string_view kLuaBackend = "lua54";

enum class ScriptErrorKind : std::uint8_t {
  Vm,                  // the engine itself failed (creation, building tables or functions)
  Load,                // reserved for the mod host; the engine never returns it
  Runtime,             // mod code raised an error, or gave an answer the engine could not read
  BudgetExceeded,      // mod code ran past its instruction, allocation or time budget
  OutOfMemory,         // mod code hit the state's memory limit
  RegistrationClosed,  // reserved; late registrations fail inside Lua instead
};

// The failure of one entry into a script engine. Its only source is the text of the failure it
// reports (`detail`): report() shows the Lua error as the author wrote it.
class ScriptError {
 public:
  static ScriptError vm(std::string backend, std::string detail);
  static ScriptError load(std::string mod_id, std::string detail);
  static ScriptError runtime(std::string mod_id, std::string context, std::string detail);
  static ScriptError budget_exceeded(std::string mod_id, std::string context);
  static ScriptError out_of_memory(std::string mod_id, std::string context);
  static ScriptError registration_closed(std::string mod_id, std::string what);

  ScriptErrorKind kind() const { return kind_; }
  const std::string& backend() const { return backend_; }  // Vm only
  const std::string& mod_id() const { return mod_id_; }    // all but Vm
  const std::string& context() const { return context_; }  // Runtime, BudgetExceeded, OutOfMemory
  const std::string& detail() const { return detail_; }    // Vm, Load, Runtime
  const std::string& what() const { return what_; }        // RegistrationClosed

  // The display text; never includes `detail`.
  std::string message() const;
  // The display text, then ": " and `detail` when there is one: what a log line shows, so the
  // author sees the Lua error's own text ("farm/init.lua:3: ...").
  std::string with_detail() const;
  // The underlying failure's own text (`detail`) as a source, so that report() shows it; null
  // for the variants without a detail.
  const ErrorSource* source() const { return detail_source_.get(); }
  // The variant name and every field by name: Runtime { mod_id: "farm", context: ..., detail: ... }.
  std::string debug() const;

  friend bool operator==(const ScriptError& a, const ScriptError& b) {
    return a.kind_ == b.kind_ && a.backend_ == b.backend_ && a.mod_id_ == b.mod_id_ &&
           a.context_ == b.context_ && a.detail_ == b.detail_ && a.what_ == b.what_;
  }

 private:
  ScriptError(ScriptErrorKind kind) : kind_(kind) {}
  void set_detail(std::string detail);
  ScriptErrorKind kind_;
  std::string backend_, mod_id_, context_, detail_, what_;
  SourcePtr detail_source_;  // TextError of detail_, null when detail_ is empty
};

// One `drops` pair: a qualified block id and the units it gives per full block.
struct Drop {
  std::string block;
  std::uint32_t units = 0;
  friend auto operator<=>(const Drop&, const Drop&) = default;
};

// A mod that failed during an entry, with its failure.
struct ModFault {
  std::string mod_id;
  ScriptError error;
  friend bool operator==(const ModFault&, const ModFault&) = default;
};

// The answer of one hook dispatch, owned by the caller.
struct HookOutcome {
  bool proceed = true;                     // false when a handler refused
  std::optional<std::string> refusal;      // absent for a plain `false`; else at most 512 bytes
  std::optional<std::vector<Drop>> drops;  // the last `drops` answer read, sorted
  std::vector<ModFault> faulted;           // in the order the failures happened
  bool taken = false;                      // set only by the dialog event operation
};

// One mod to ask in a dispatch; `listed` selects its handler stored with `materials`.
struct DispatchEntry {
  std::string mod_id;
  bool listed = false;
};

// One declared player setting as the server reads it back.
struct Setting {
  std::string id;                    // qualified "{mod}:{id}"
  std::string mod_id;
  std::string name;
  std::string description;
  std::vector<std::string> options;  // empty for a checkbox
  std::uint32_t default_value = 0;   // 0-based option index, or 0/1 for a checkbox
  friend bool operator==(const Setting&, const Setting&) = default;
};

// ---- Event records: plain values the caller owns; the engine only reads them ----

struct JoinEvent {  // a join or a leave
  identity::PlayerUuid player;
  std::string name;  // the display name on this server
};

struct MoveEvent {
  identity::PlayerUuid player;
  std::int32_t x = 0, y = 0, z = 0;  // the block the feet are in now
  std::string domain;
  std::optional<std::array<std::int32_t, 3>> from;  // the block reported before, if any
};

enum class DismountReason : std::uint8_t { Sneak, Dismount, Gone, Leave };

struct DismountEvent {
  identity::PlayerUuid player;  // the rider
  std::uint64_t entity = 0;     // the mount, which may be gone
  DismountReason reason = DismountReason::Sneak;
  std::string domain;
  double x = 0, y = 0, z = 0;   // where the rider was put, world blocks
  friend bool operator==(const DismountEvent&, const DismountEvent&) = default;
};

struct FluidFlowEvent {
  std::array<std::int32_t, 3> from{};  // the block the fluid is in
  std::array<std::int32_t, 3> into{};  // the block it could not enter
  std::string fluid;
  std::uint32_t volume = 0;     // cells of 27 it presses with
  std::uint32_t occupancy = 0;  // 27-bit mask of the filled cells of the blocking block
  std::uint16_t material = 0;   // the blocking block's material
  std::optional<std::string> meets;  // another fluid standing in `into`
};

struct DialogEvent {
  std::string mod_id;  // the dialog's owner
  std::string form;    // the dialog's name as sent, qualified with the owner's id
  identity::PlayerUuid player;
  proto::DialogEvent event;
  std::optional<inventory::Stack> stack;  // for a drop: what left the cursor
};

struct ChatArgs {
  identity::PlayerUuid player;
  std::string text;
};

struct PlaceArgs {
  identity::PlayerUuid player;
  std::string domain;
  std::int32_t x = 0, y = 0, z = 0;
  std::uint16_t material = 0;
  std::uint32_t occupancy = 0;  // the cells it would fill
  std::uint32_t units = 0;      // what it would cost
  bool swept = false;
  std::optional<std::array<std::uint16_t, 27>> cells;  // a cut of several materials
};

struct PunchArgs {
  identity::PlayerUuid attacker;
  std::uint64_t target = 0;
  std::optional<identity::PlayerUuid> owner;
};

struct ActionArgs {
  identity::PlayerUuid player;
  std::string id;
  bool pressed = false;
};

// The cell under the crosshair: cell coordinates (3 a block on each axis) and its material.
struct UsedCell {
  std::int32_t x = 0, y = 0, z = 0;
  std::uint16_t material = 0;
};

struct UseBlockArgs {
  identity::PlayerUuid player;
  std::string domain;
  std::optional<inventory::Stack> held;
  std::optional<UsedCell> cell;  // none: a use at nothing
};

struct UseEntityArgs {
  identity::PlayerUuid player;
  std::uint64_t target = 0;
  std::optional<identity::PlayerUuid> owner;
  std::optional<inventory::Stack> held;
};

struct RandomTickEvent {
  std::int32_t x = 0, y = 0, z = 0;
  std::uint16_t material = 0;
};

// Block writes for scripts, queued for the next tick. Implemented by the server's edit queue.
// Each answers whether the edit was accepted.
class WorldEdit {
 public:
  virtual ~WorldEdit() = default;
  virtual bool set_block(std::string_view domain, coords::BlockPos pos, std::string_view block) = 0;
  // `mask`: 27 bits, one per sub-node cell; the other cells become air.
  virtual bool set_partial(std::string_view domain, coords::BlockPos pos, std::string_view block,
                           std::uint32_t mask) = 0;
  // As set_partial, keeping the cells outside `mask`.
  virtual bool merge_partial(std::string_view domain, coords::BlockPos pos, std::string_view block,
                             std::uint32_t mask) = 0;
};

// The operations of a script engine that exist so far; the mod host, the read-back of
// registrations and the event operations add theirs as they are built.
template <class V>
concept ScriptVm = requires(V& vm, const V& cvm, std::string_view id, std::uint64_t seed,
                            std::shared_ptr<WorldEdit> edit,
                            std::span<const std::pair<std::string, std::uint8_t>> fluids) {
  { V::create(std::uint64_t{}, std::uint32_t{}) } -> std::same_as<std::expected<V, ScriptError>>;
  { vm.load_mod(id, id, id) } -> std::same_as<std::expected<void, ScriptError>>;
  { vm.set_world_seed(seed) } -> std::same_as<void>;
  { vm.set_fluid_ids(fluids) } -> std::same_as<void>;
  { vm.set_world_edit(edit) } -> std::same_as<void>;
  { cvm.faulted_mods() } -> std::same_as<std::vector<std::string>>;
  { cvm.entity_steppers() } -> std::same_as<std::vector<std::string>>;
  { cvm.random_tick_materials() } -> std::same_as<std::vector<std::uint16_t>>;
};

}  // namespace ostrel_core::script::vm
