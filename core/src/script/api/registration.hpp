#pragma once
// What every `game` registration function shares besides reading its fields (fields.hpp): the
// registration window, the registry tables, ids, mod-relative paths and files, and installing
// the functions into a mod's `game` table (registration.cpp). The engine's own header: not for
// use outside core/src/script.
//
// Every registration function runs all its checks before it writes anything: a refused call
// leaves no id, no number and no entry behind.

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "world/domain.hpp"
#include "script/lua_vm/convert.hpp"
#include "script/lua_vm/state.hpp"
#include "script/vm.hpp"

struct lua_State;

namespace ostrel_core::script::lua_vm {

class LuaVm;

// ---- Functions in a `game` table -----------------------------------------------------------

// The text of upvalue `i` of the running C closure. REQUIRES: it is a string.
std::string_view upvalue_text(lua_State* L, int i);
void push_text(lua_State* L, std::string_view s);
// Sets one C closure carrying `mod_id` as upvalue 1 under `name` on the table at `game`.
void set_function(lua_State* L, int game, const char* name, int (*fn)(lua_State*),
                  std::string_view mod_id);

// The content functions (blocks, items, lookups, tools, fluids, domains, generators, ticks)
// on the `game` table at `game_idx`, each made for `mod_id`. Called by load_mod.
std::expected<void, vm::ScriptError> install_content(lua_State* L, std::string_view mod_id,
                                                     int game_idx);

// Pushes the registration functions of one family, each made for `mod_id`, onto the `game`
// table at `game` (a stack index). Raise on failure; called inside protect().
void set_block_functions(lua_State* L, std::string_view mod_id, int game);
void set_lookup_functions(lua_State* L, int game);
void set_tool_functions(lua_State* L, std::string_view mod_id, int game);
void set_fluid_functions(lua_State* L, std::string_view mod_id, int game);
void set_domain_functions(lua_State* L, std::string_view mod_id, int game);

// ---- The window and the registry -----------------------------------------------------------

// The registration window: a frozen flag that cannot be read counts as not set.
bool frozen(lua_State* L);
// Raises "mod `{}`: registration is closed" once the window has closed.
void refuse_if_frozen(lua_State* L, std::string_view mod_id);
// Pushes the named registry table; raises when it is missing (a broken engine).
void push_registry_table(lua_State* L, std::string_view name);
// Raises unless argument 1 is a table (the bad-argument error of `fn`).
void arg_table(lua_State* L, std::string_view fn);

// For the readers, which never fail: runs `read(L, t)` under protection with the named registry
// table at stack index `t`; nothing when the name holds no table. A failure of the state ends
// the read with what was gathered. REQUIRES: called on the engine's thread.
void read_registry_table(const LuaVm& vm, std::string_view name,
                         const std::function<void(lua_State*, int)>& read);
// Runs `fn` on the engine's state under protection; an unreadable registry reads as nothing.
template <class F>
void read_registry(const LuaVm& vm, F&& fn) {
  (void)protect(vm.state(), std::forward<F>(fn));  // readers never fail
}
// Visits the named registry sequence from 1 to the first nil; `fn(L, index)` gets each table
// element and answers whether to go on.
void each_entry(const LuaVm& vm, const char* name, const std::function<bool(lua_State*, int)>& fn);

// The id whose "ostrel.blocks" entry holds `material`; none when no entry does.
std::optional<std::string> block_name_of(lua_State* L, std::uint16_t material);

// ---- Ids ---------------------------------------------------------------------------------------

// Material numbers handed out: 2 up to this one; 65535 stays unused (the world's "unmapped").
inline constexpr std::int64_t kLastMaterial = 65534;
// The namespace of the engine's own materials ("engine:air", "engine:unknown").
inline constexpr std::string_view kEngineNamespace = "engine";

// The registration table's `id` as text (a number counts as its text); none when missing or of
// another type.
std::optional<std::string> registration_id(lua_State* L, int table);
// The id qualified into the mod's namespace (convert::qualify_id), or its refusal raised.
std::string qualify(lua_State* L, std::string_view mod_id, std::string_view id);

// The optional `position` of the registration table at `table`: three whole-block coordinates,
// an integer taken exactly, a float cut toward zero; each within 4e18 blocks.
std::optional<domain::UniversalPos> universal_position(lua_State* L, int table,
                                                       std::string_view ctx);

// ---- Mod-relative paths and files --------------------------------------------------------------

// The path check of mod-relative file names: backslashes become "/", then an empty (or white
// space only) path "is empty", one starting with "/" or holding ":" "is absolute", one with a
// ".." segment "escapes the mod directory". Answers the normalised path or the reason.
std::expected<std::string, std::string_view> check_mod_path(std::string_view path);
// "{ctx}: path `{path}` {reason}. Paths are relative to your mod's own directory."
std::string path_refusal(std::string_view ctx, std::string_view path, std::string_view reason);
// The check with the caller's context, refused with path_refusal.
std::expected<std::string, std::string> validate_mod_path(std::string_view path,
                                                          std::string_view ctx);
// validate_mod_path, its refusal raised.
std::string mod_path(lua_State* L, std::string_view what, std::string_view path);

// The mod's directory from "ostrel.mod_dirs", or "{what}: mod `{}` has no directory to read
// from" when it is missing or not text. mod_dir raises that refusal.
std::expected<std::string, std::string> find_mod_dir(lua_State* L, std::string_view what,
                                                     std::string_view mod_id);
std::string mod_dir(lua_State* L, std::string_view what, std::string_view mod_id);

// "{what}: `{given}` is not a file in mod `{mod_id}`'s directory: {why}".
std::string not_a_mod_file(std::string_view what, std::string_view given,
                           std::string_view mod_id, std::string_view why);

// The canonical path of `normalised` (already checked) under `dir` when it is a regular file
// inside it; otherwise the refusal text (`given` is the path as the mod wrote it).
std::expected<std::string, std::string> locate_mod_file(std::string_view what,
                                                        std::string_view mod_id,
                                                        std::string_view dir,
                                                        std::string_view given,
                                                        std::string_view normalised);
// A file a registration names: the path check, then the file must exist as a regular file
// inside the mod's directory (links resolved), else "{what}: `{}` is not a file in mod `{}`'s
// directory: {}" or the escape refusal, raised. Answers the normalised path.
std::string require_mod_file(lua_State* L, std::string_view what, std::string_view mod_id,
                             std::string_view path);

}  // namespace ostrel_core::script::lua_vm

namespace ostrel_core::script::media::detail {

// The installers of each media family, called by install_media inside its protection.
void set_view_functions(lua_State* L, std::string_view mod_id, int game);
void set_sky_functions(lua_State* L, std::string_view mod_id, int game);
void set_asset_functions(lua_State* L, std::string_view mod_id, int game);

}  // namespace ostrel_core::script::media::detail
