#pragma once
// Shared pieces of the media registrations (register_views.cpp, register_skies.cpp,
// register_media.cpp). Not for use outside core/src/script. Every registration function runs
// all its checks before it writes anything: a refused call leaves nothing behind.

#include <cstdint>
#include <expected>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "script/api/content_lua.hpp"
#include "script/lua_vm/convert.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "script/lua_vm/lua_vm_impl.hpp"
#include "script/vm.hpp"

struct lua_State;

namespace ostrel_core::script::media::detail {

using lua_vm::arg_table;
using lua_vm::push_registry_table;
using lua_vm::push_text;
using lua_vm::qualify;
using lua_vm::read_number;
using lua_vm::read_text;
using lua_vm::refuse_if_frozen;
using lua_vm::set_function;
using lua_vm::upvalue_text;

// The first text key of the table at `t` that is not in `allowed` (invalid UTF-8 replaced).
std::optional<std::string> unknown_key(lua_State* L, int t,
                                       std::initializer_list<std::string_view> allowed);

// Field readers of the table at `t`. Absent (nil) gives none; a value that does not convert
// raises "{fn}: bad field `{field}` ({conversion error})".
std::optional<double> opt_number(lua_State* L, int t, std::string_view field, std::string_view fn);
std::optional<float> opt_f32(lua_State* L, int t, std::string_view field, std::string_view fn);
std::optional<std::string> opt_text(lua_State* L, int t, std::string_view field,
                                     std::string_view fn);
// Absent gives false; a value that is not a table raises as above; a table is pushed.
bool opt_table(lua_State* L, int t, std::string_view field, std::string_view fn);
// Like opt_text, but absent raises as a nil value would: "{fn}: bad field `{field}` (expected
// string, got nil)".
std::string required_text(lua_State* L, int t, std::string_view field, std::string_view fn);

// A double as single precision, out of range becoming infinite.
float to_f32(double v);

// The path check of mod-relative file names: backslashes become "/", then an empty (or white
// space only) path "is empty", one starting with "/" or holding ":" "is absolute", one with a
// ".." segment "escapes the mod directory". Raises "{what}: path `{}` {reason}. Paths are
// relative to your mod's own directory." (lua_vm::validate_mod_path) or answers the normalised
// path.
std::string mod_path(lua_State* L, std::string_view what, std::string_view path);

// The mod's directory from "ostrel.mod_dirs", or "{what}: mod `{}` has no directory to read
// from" when it is missing or not text. mod_dir raises that refusal.
std::expected<std::string, std::string> find_mod_dir(lua_State* L, std::string_view what,
                                                     std::string_view mod_id);
std::string mod_dir(lua_State* L, std::string_view what, std::string_view mod_id);

// "{what}: `{given}` is not a file in mod `{mod_id}`'s directory: {why}".
std::string not_a_mod_file(std::string_view what, std::string_view given,
                           std::string_view mod_id, std::string_view why);

// A file a registration names: the path check, then the file must exist as a regular file
// inside the mod's directory (links resolved), else "{what}: `{}` is not a file in mod `{}`'s
// directory: {}" or the escape refusal. Answers the normalised path.
// The canonical path of `normalised` (already checked) under `dir` when it is a regular file
// inside it; otherwise the refusal text (`given` is the path as the mod wrote it).
std::expected<std::string, std::string> locate_mod_file(std::string_view what,
                                                        std::string_view mod_id,
                                                        std::string_view dir,
                                                        std::string_view given,
                                                        std::string_view normalised);
std::string require_mod_file(lua_State* L, std::string_view what, std::string_view mod_id,
                             std::string_view path);

// Runs `fn` on the engine's state under protection; an unreadable registry reads as nothing.
template <class F>
void read_registry(const lua_vm::LuaVm& vm, F&& fn) {
  (void)lua_vm::protect(vm.state(), std::forward<F>(fn));  // readers never fail
}

// Visits the named registry sequence from 1 to the first nil; `fn(L, index)` gets each table
// element and answers whether to go on.
void each_entry(const lua_vm::LuaVm& vm, const char* name,
                const std::function<bool(lua_State*, int)>& fn);

// The raw field `name` of the entry at `e` when it is text.
std::optional<std::string> text_field(lua_State* L, int e, const char* name);
// The raw field `name` of the entry at `e` as single precision when it reads as a number.
std::optional<float> f32_field(lua_State* L, int e, const char* name);

// The installers of each family, called by install_media inside its protection.
void set_view_functions(lua_State* L, std::string_view mod_id, int game);
void set_sky_functions(lua_State* L, std::string_view mod_id, int game);
void set_asset_functions(lua_State* L, std::string_view mod_id, int game);

}  // namespace ostrel_core::script::media::detail
