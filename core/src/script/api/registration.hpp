#pragma once
// Shared pieces of the content registration functions and their readers (register_*.cpp,
// lookups.cpp, records.cpp). Not for use outside core/src/script.
//
// Every registration function runs all its checks before it writes anything: a refused call
// leaves no id, no number and no entry behind.

#include <cstdint>
#include <expected>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "world/domain.hpp"
#include "script/lua_vm/convert.hpp"
#include "script/vm.hpp"

struct lua_State;

namespace ostrel_core::script::lua_vm {

class LuaVm;

// The text of upvalue `i` of the running C closure. REQUIRES: it is a string.
std::string_view upvalue_text(lua_State* L, int i);
void push_text(lua_State* L, std::string_view s);
// Sets one C closure carrying `mod_id` as upvalue 1 under `name` on the table at `game`.
void set_function(lua_State* L, int game, const char* name, int (*fn)(lua_State*),
                  std::string_view mod_id);

// The registration window: a frozen flag that cannot be read counts as not set.
bool frozen(lua_State* L);
// Raises "mod `{}`: registration is closed" once the window has closed.
void refuse_if_frozen(lua_State* L, std::string_view mod_id);
// Pushes the named registry table; raises when it is missing (a broken engine).
void push_registry_table(lua_State* L, std::string_view name);

// The content functions (blocks, items, lookups, tools, fluids, domains, generators, ticks)
// on the `game` table at `game_idx`, each made for `mod_id`. Called by load_mod.
std::expected<void, vm::ScriptError> install_content(lua_State* L, std::string_view mod_id,
                                                     int game_idx);

// Material numbers handed out: 2 up to this one; 65535 stays unused (the world's "unmapped").
inline constexpr std::int64_t kLastMaterial = 65534;
// The namespace of the engine's own materials ("engine:air", "engine:unknown").
inline constexpr std::string_view kEngineNamespace = "engine";

// Pushes the raw value of `t[name]` (t a stack index) and returns its type.
int raw_field(lua_State* L, int t, std::string_view name);

// The first text key of the table at `t` that is not in `allowed`, in iteration order.
std::optional<std::string> unknown_key(lua_State* L, int t,
                                       std::span<const std::string_view> allowed);
inline std::optional<std::string> unknown_key(lua_State* L, int t,
                                              std::initializer_list<std::string_view> allowed) {
  return unknown_key(L, t, std::span<const std::string_view>(allowed.begin(), allowed.size()));
}

// The spec's `id` as text (a number counts as its text); none when missing or of another type.
std::optional<std::string> spec_id(lua_State* L, int spec);

// The id qualified into the mod's namespace (convert::qualify_id), or its refusal raised.
std::string qualify(lua_State* L, std::string_view mod_id, std::string_view id);

// Readers that never raise: the value at `idx` as text (a number counts as its text) or as a
// number; none when it does not convert.
std::optional<std::string> read_text(lua_State* L, int idx);
std::optional<double> read_number(lua_State* L, int idx);

// A value for a refusal text: a number in its shortest form, else its type name.
std::string value_text(lua_State* L, int idx);

// Raises "{ctx}: bad field `{field}` ({why})": a value of the wrong type for its field.
[[noreturn]] void field_error(lua_State* L, std::string_view ctx, std::string_view field,
                              const convert::ConvertError& why);

// Raises unless argument 1 is a table (the bad-argument error of `fn`).
void arg_table(lua_State* L, std::string_view fn);

// The path check of mod-relative file names: backslashes become "/", then an empty (or white
// space only) path "is empty", one starting with "/" or holding ":" "is absolute", one with a
// ".." segment "escapes the mod directory". Answers the normalised path or the reason.
std::expected<std::string, std::string_view> check_mod_path(std::string_view path);
// "{ctx}: path `{path}` {reason}. Paths are relative to your mod's own directory."
std::string path_refusal(std::string_view ctx, std::string_view path, std::string_view reason);
// The check with the caller's context, refused with path_refusal.
std::expected<std::string, std::string> validate_mod_path(std::string_view path,
                                                          std::string_view ctx);

// Pushes the registration functions of one family, each made for `mod_id`, onto the `game`
// table at `game` (a stack index). Raise on failure; called inside protect().
void set_block_functions(lua_State* L, std::string_view mod_id, int game);
void set_lookup_functions(lua_State* L, int game);
void set_tool_functions(lua_State* L, std::string_view mod_id, int game);
void set_fluid_functions(lua_State* L, std::string_view mod_id, int game);
void set_domain_functions(lua_State* L, std::string_view mod_id, int game);

// The optional `position` of the registration table at `spec`: three whole-block coordinates, an
// integer taken exactly, a float cut toward zero; each within 4e18 blocks.
std::optional<domain::UniversalPos> universal_position(lua_State* L, int spec,
                                                       std::string_view ctx);

// For the readers, which never fail: runs `read(L, t)` under protection with the named registry
// table at stack index `t`; nothing when the name holds no table. A failure of the state ends
// the read with what was gathered. REQUIRES: called on the engine's thread.
void read_registry_table(const LuaVm& vm, std::string_view name,
                         const std::function<void(lua_State*, int)>& read);

// Registry lookups shared by the lookups and the hook registrations.
// The id whose "ostrel.blocks" entry holds `material`; none when no entry does.
std::optional<std::string> block_name_of(lua_State* L, std::uint16_t material);

}  // namespace ostrel_core::script::lua_vm
