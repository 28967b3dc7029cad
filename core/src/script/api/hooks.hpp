#pragma once
// The hook lists and the hook registration functions of a mod's `game` table (hooks.cpp). The
// engine's own header: for the engine, which makes the lists and installs the functions, and
// tests.

#include <array>
#include <cstdint>
#include <string_view>

struct lua_State;

namespace ostrel_core::script::lua_vm {

// The 22 hook lists create() makes after ostrel.tickers and ostrel.entity_steppers, in order.
inline constexpr std::array<std::string_view, 22> kHookLists = {
    "ostrel.diggers",        "ostrel.dig_starters",    "ostrel.placers",
    "ostrel.users",          "ostrel.users_anywhere",  "ostrel.users_scoped",
    "ostrel.entity_users",   "ostrel.punchers",        "ostrel.flowers",
    "ostrel.joiners",        "ostrel.movers",          "ostrel.dismounters",
    "ostrel.leavers",        "ostrel.domain_exiters",  "ostrel.domain_enterers",
    "ostrel.actors",         "ostrel.dialogists",      "ostrel.chatters",
    "ostrel.random_ticks",   "ostrel.random_tick_owners", "ostrel.chunk_tinters",
    "ostrel.chunk_foggers"};

// A cancellable hook: its registration function is "register_" + hook, its list `list`.
struct HookSpec {
  std::string_view hook;
  std::string_view list;
};
// The hooks install_cancellable_hooks() puts into a `game` table, in order;
// `register_random_tick` goes between on_domain_enter and on_action.
inline constexpr std::array<HookSpec, 16> kCancellableHooks = {{
    {"on_dig_complete", "ostrel.diggers"},     {"on_dig_start", "ostrel.dig_starters"},
    {"on_place", "ostrel.placers"},            {"on_punch", "ostrel.punchers"},
    {"on_use", "ostrel.users"},                {"on_use_entity", "ostrel.entity_users"},
    {"on_fluid_flow", "ostrel.flowers"},       {"on_player_move", "ostrel.movers"},
    {"on_dismount", "ostrel.dismounters"},     {"on_player_join", "ostrel.joiners"},
    {"on_player_leave", "ostrel.leavers"},     {"on_domain_exit", "ostrel.domain_exiters"},
    {"on_domain_enter", "ostrel.domain_enterers"}, {"on_action", "ostrel.actors"},
    {"on_chat", "ostrel.chatters"},            {"on_dialog_event", "ostrel.dialogists"},
}};

// The option a hook registration takes besides `materials` (only `on_use` has one).
struct ScopeOption {
  std::string_view name;  // "anywhere"
  std::string_view list;  // "ostrel.users_anywhere"
};

// Pushes one registration function made for `mod_id`.
void push_hook_registrar_with(lua_State* L, std::string_view mod_id, std::string_view hook,
                              std::string_view list, const ScopeOption* scope);
void push_random_tick_registrar(lua_State* L, std::string_view mod_id);
// What a second registration by the same mod does: replace the first handler, or raise.
enum class OnRepeat : std::uint8_t { replace, refuse };
// `register_{hook}`: one handler per mod under "ostrel.{hook}.{mod}", the mod listed once in `list`.
void push_once_registrar(lua_State* L, std::string_view mod_id, std::string_view hook,
                         std::string_view list, OnRepeat repeat = OnRepeat::replace);

}  // namespace ostrel_core::script::lua_vm
