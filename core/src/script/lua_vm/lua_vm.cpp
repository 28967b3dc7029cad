#include "script/lua_vm/lua_vm.hpp"

#include <algorithm>
#include <cstring>

#include <fmt/format.h>
#include <lua.hpp>

#include "base/log.hpp"
#include "script/api/registration.hpp"
#include "script/api/hooks.hpp"
#include "script/api/media.hpp"
#include "script/api/runtime_items.hpp"
#include "script/lua_vm/charges.hpp"
#include "script/lua_vm/convert.hpp"
#include "script/lua_vm/pattern.hpp"
#include "script/lua_vm/ref.hpp"
#include "script/lua_vm/sandbox.hpp"
#include "script/lua_vm/state.hpp"

namespace ostrel_core::script::lua_vm {

using vm::ScriptError;

namespace {

// Registry names made by create(), in the order it makes them.
constexpr std::string_view kSettingTables[] = {"ostrel.settings", "ostrel.answers"};
constexpr std::string_view kContentTables[] = {"ostrel.blocks", "ostrel.block_textures",
                                               "ostrel.block_rules", "ostrel.items",
                                               "ostrel.views", "ostrel.tools"};
constexpr std::string_view kWorldTables[] = {"ostrel.domain_generators", "ostrel.domains",
                                             "ostrel.fluids", "ostrel.skies",
                                             "ostrel.clouds", "ostrel.models"};
constexpr std::string_view kMapRegistry[] = {"ostrel.world_init", "ostrel.maps"};
constexpr std::string_view kTickLists[] = {"ostrel.tickers", "ostrel.entity_steppers"};
constexpr std::string_view kLateTables[] = {"ostrel.generators", "ostrel.actions",
                                            "ostrel.sounds",     "ostrel.fonts",
                                            "ostrel.pictures",   "ostrel.mod_dirs",
                                            "ostrel.hud_scripts", "ostrel.bindings"};

// Makes an empty table under each name, in order; the first failure ends the installer.
std::expected<void, ScriptError> make_tables(lua_State* L, std::span<const std::string_view> names) {
  for (auto name : names) {
    auto r = protect(L, [&](lua_State* s) {
      lua_newtable(s);
      lua_setfield(s, LUA_REGISTRYINDEX, std::string(name).c_str());
    });
    if (!r) return std::unexpected(engine_error(r.error()));
  }
  return {};
}

std::expected<void, ScriptError> install_setting_tables(lua_State* L) {
  return make_tables(L, kSettingTables);
}
std::expected<void, ScriptError> install_content_tables(lua_State* L) {
  return make_tables(L, kContentTables);
}
std::expected<void, ScriptError> install_world_tables(lua_State* L) {
  return make_tables(L, kWorldTables);
}
std::expected<void, ScriptError> install_map_registry(lua_State* L) {
  return make_tables(L, kMapRegistry);
}
std::expected<void, ScriptError> install_tick_lists(lua_State* L) {
  return make_tables(L, kTickLists);
}
std::expected<void, ScriptError> install_hook_lists(lua_State* L) {
  return make_tables(L, kHookLists);
}
std::expected<void, ScriptError> install_late_tables(lua_State* L) {
  return make_tables(L, kLateTables);
}

}  // namespace

// ---- Protection and errors -------------------------------------------------------------

namespace {

// A status Lua never gives for its own errors: a C++ exception escaped a native function and
// Lua's catch-all turned it into a failure whose error value is whatever was on the stack. The
// engine's native code throws nothing of its own, so this is the host running out of memory; it
// is reported as such rather than as a meaningless text.
bool foreign_failure(int status) {
  return status != LUA_OK && status != LUA_YIELD && status != LUA_ERRRUN &&
         status != LUA_ERRSYNTAX && status != LUA_ERRMEM && status != LUA_ERRERR;
}

}  // namespace

std::expected<void, std::string> protect(lua_State* L, int nargs, void (*fn)(lua_State*, void*),
                                         void* ctx) {
  struct Call {
    void (*fn)(lua_State*, void*);
    void* ctx;
  } call{fn, ctx};
  const int top = lua_gettop(L) - nargs;
  lua_pushcfunction(L, [](lua_State* s) -> int {
    auto* c = static_cast<Call*>(lua_touserdata(s, 1));
    lua_remove(s, 1);
    c->fn(s, c->ctx);
    return 0;
  });
  lua_insert(L, top + 1);
  lua_pushlightuserdata(L, &call);
  lua_insert(L, top + 2);
  if (const int status = lua_pcall(L, nargs + 1, 0, 0); status != LUA_OK) {
    std::string text =
        foreign_failure(status) ? budget::kMemoryMarker : convert::error_text(L, -1);
    lua_settop(L, top);
    return std::unexpected(std::move(text));
  }
  lua_settop(L, top);
  return {};
}

ScriptError engine_error(std::string detail) {
  return ScriptError::vm(std::string(vm::kLuaBackend), std::move(detail));
}

std::expected<void, ScriptError> fill_game(lua_State* L, int game_idx,
                                           const std::function<void(lua_State*)>& fill) {
  lua_pushvalue(L, game_idx);
  auto r = protect(L, 1, [&](lua_State* s) { fill(s); });
  if (!r) return std::unexpected(engine_error(r.error()));
  return {};
}

std::string_view text_at(lua_State* L, int idx) {
  std::size_t len = 0;
  const char* p = lua_tolstring(L, idx, &len);
  return {p, len};
}

LuaVm::Impl::~Impl() {
  if (L != nullptr) lua_close(L);
}

// ---- Creation --------------------------------------------------------------------------

LuaVm::LuaVm(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
LuaVm::LuaVm(LuaVm&&) noexcept = default;
LuaVm& LuaVm::operator=(LuaVm&&) noexcept = default;
LuaVm::~LuaVm() = default;

std::expected<LuaVm, ScriptError> LuaVm::create(std::uint64_t memory_limit, std::uint32_t budget) {
  auto impl = std::make_unique<Impl>();
  impl->budget.memory_limit = memory_limit;
  // Room above the limit for the operation that found it reached while a hoarder is released.
  impl->budget.reserve = memory_limit / 8;
  impl->budget.engine_budget = budget;
  lua_State* L = lua_newstate(budget::limited_alloc, &impl->budget);
  if (L == nullptr) return std::unexpected(engine_error("the Lua state could not be created"));
  impl->L = L;
  impl->budget.main = L;
  impl->budget.on_over = [](lua_State* thread, void* context) {
    static_cast<Impl*>(context)->settle_memory(thread, true);
  };
  impl->budget.over_context = impl.get();

  auto libs = protect(L, [](lua_State* s) {
    // Every standard library but `debug`.
    const luaL_Reg libs[] = {{LUA_GNAME, luaopen_base},          {LUA_COLIBNAME, luaopen_coroutine},
                             {LUA_TABLIBNAME, luaopen_table},    {LUA_IOLIBNAME, luaopen_io},
                             {LUA_OSLIBNAME, luaopen_os},        {LUA_STRLIBNAME, luaopen_string},
                             {LUA_UTF8LIBNAME, luaopen_utf8},    {LUA_MATHLIBNAME, luaopen_math},
                             {LUA_LOADLIBNAME, luaopen_package}};
    for (const auto& lib : libs) {
      luaL_requiref(s, lib.name, lib.func, 1);
      lua_pop(s, 1);
    }
    // Scripts may not reach the string metatable (its __index is the one shared string library).
    lua_pushliteral(s, "");
    lua_getmetatable(s, -1);
    lua_pushboolean(s, 0);
    lua_setfield(s, -2, "__metatable");
    lua_pop(s, 2);
    budget::install_error_values(s);
    // Library work that grows with its arguments is charged to the entry's budget.
    pattern::install(s);
    charges::install(s);
  });
  if (!libs) return std::unexpected(engine_error(libs.error()));

  LuaVm engine(std::move(impl));
  // The registry contract of the header, in this order; the first failure ends creation.
  std::expected<void, ScriptError> (*const installers[])(lua_State*) = {
      install_setting_tables, install_content_tables, install_world_tables,
      install_map_registry,   install_tick_lists,     install_hook_lists,
      install_late_tables};
  for (auto install : installers) {
    if (auto r = install(L); !r) return std::unexpected(r.error());
  }
  auto values = protect(L, [](lua_State* s) {
    lua_pushinteger(s, 2);
    lua_setfield(s, LUA_REGISTRYINDEX, "ostrel.next_material");
    lua_pushboolean(s, 0);
    lua_setfield(s, LUA_REGISTRYINDEX, "ostrel.frozen");
    lua_pushboolean(s, 0);
    lua_setfield(s, LUA_REGISTRYINDEX, "ostrel.generating");
  });
  if (!values) return std::unexpected(engine_error(values.error()));
  return engine;
}

lua_State* LuaVm::state() const { return impl_->L; }
std::uint32_t LuaVm::budget() const { return impl_->budget.engine_budget; }
std::uint64_t LuaVm::memory_limit() const { return impl_->budget.memory_limit; }
std::uint64_t LuaVm::memory_used() const { return impl_->budget.used; }

// ---- Entries ---------------------------------------------------------------------------

std::expected<void, ScriptError> LuaVm::arm_budget(std::uint32_t instructions) {
  std::lock_guard lock(impl_->mu);
  // lua_sethook cannot fail.
  impl_->manual_outer = budget::arm(impl_->L, impl_->budget, instructions, budget::kEngine);
  return {};
}

void LuaVm::disarm_budget() {
  std::lock_guard lock(impl_->mu);
  budget::disarm(impl_->L, impl_->budget, impl_->manual_outer);
  impl_->manual_outer = {};
}

namespace {

// The failure on top of the stack as a ScriptError. The budget is decided by the entry's own
// flags, never by the text: a mod may raise any text it likes.
ScriptError classify(lua_State* L, const budget::Entry& entry, int status, std::string_view mod_id,
                     std::string_view context) {
  if (entry.watchdog) {
    return ScriptError::runtime(std::string(mod_id), std::string(context),
                                budget::kWatchdogMessage);
  }
  if (entry.exhausted) {
    return ScriptError::budget_exceeded(std::string(mod_id), std::string(context));
  }
  std::string text = convert::error_text(L, -1);
  if (status == LUA_ERRMEM || foreign_failure(status) ||
      text.find(budget::kMemoryMarker) != std::string::npos) {
    return ScriptError::out_of_memory(std::string(mod_id), std::string(context));
  }
  return ScriptError::runtime(std::string(mod_id), std::string(context), std::move(text));
}

}  // namespace

budget::Owner LuaVm::Impl::owner_of(std::string_view mod_id) {
  // Dispatch asks for the same few mods over and over.
  if (last_owner != budget::kEngine && owner_names[last_owner] == mod_id) return last_owner;
  if (auto it = owners.find(mod_id); it != owners.end()) return last_owner = it->second;
  const auto owner = static_cast<budget::Owner>(owner_names.size());
  owner_names.emplace_back(mod_id);
  owners.emplace(std::string(mod_id), owner);
  return owner;
}

void LuaVm::Impl::settle_memory(lua_State* thread, bool running) {
  if (!budget.over) return;
  budget.over = false;
  // The engine's own work, charged to no entry.
  const budget::Entry entry = budget.entry;
  budget.entry = {};
  lua_gc(thread, LUA_GCCOLLECT);
  budget::Owner hoarder = budget::kEngine;
  if (budget.used > budget.memory_limit) hoarder = budget::biggest_holder(budget);
  if (hoarder != budget::kEngine && hoarder < owner_names.size()) {
    budget.released[hoarder] = true;
    const std::string mod_id = owner_names[hoarder];
    const std::uint64_t bytes = budget::held_by(budget, hoarder);
    faulted->insert(mod_id);
    fault_reasons[mod_id] = fmt::format(
        "disabled for holding the most script memory ({} bytes) when the limit was reached",
        bytes);
    OSTREL_ERROR(kTarget,
                 fmt::format("disabling mod `{}`, which holds the most script memory ({} bytes), "
                             "after the script memory limit was reached",
                             mod_id, bytes),
                 log::text("mod_id", mod_id), log::value("bytes", bytes));
    release_references(thread, mod_id);
    lua_gc(thread, LUA_GCCOLLECT);
  }
  budget.entry = entry;
  // The running entry fails only when it is the hoarder's own.
  if (running && entry.armed && entry.owner == hoarder) budget::raise_memory_error(thread);
}

void LuaVm::Impl::release_references(lua_State* thread, std::string_view mod_id) {
  if (auto it = environments.find(std::string(mod_id)); it != environments.end()) {
    luaL_unref(thread, LUA_REGISTRYINDEX, it->second);
    environments.erase(it);
  }
  const std::string suffix = fmt::format(".{}", mod_id);
  // What cannot be dropped (the state out of memory) stays: it costs memory, not correctness.
  (void)protect(thread, [&](lua_State* s) {
    // Its handlers and lists of its own: "ostrel.{name}.{mod}".
    std::vector<std::string> keys;
    lua_pushnil(s);
    while (lua_next(s, LUA_REGISTRYINDEX) != 0) {
      lua_pop(s, 1);
      if (lua_type(s, -1) != LUA_TSTRING) continue;
      const std::string_view key = text_at(s, -1);
      if (key.starts_with("ostrel.") && key.size() > 7 + suffix.size() && key.ends_with(suffix)) {
        keys.emplace_back(key);
      }
    }
    for (const auto& key : keys) {
      lua_pushnil(s);
      lua_setfield(s, LUA_REGISTRYINDEX, key.c_str());
    }
    // Its exports, random ticks, domain generators and maps.
    if (lua_getfield(s, LUA_REGISTRYINDEX, "ostrel.exports") == LUA_TTABLE) {
      push_text(s, mod_id);
      lua_pushnil(s);
      lua_rawset(s, -3);
    }
    lua_pop(s, 1);
    const auto owned = [&](const char* table, auto&& drop) {
      if (lua_getfield(s, LUA_REGISTRYINDEX, table) == LUA_TTABLE) {
        lua_pushnil(s);
        while (lua_next(s, -2) != 0) {
          if (lua_type(s, -1) == LUA_TSTRING && text_at(s, -1) == mod_id) {
            lua_pushvalue(s, -2);
            drop(s);
          }
          lua_pop(s, 1);
        }
      }
      lua_pop(s, 1);
    };
    owned("ostrel.random_tick_owners", [&](lua_State* t) {  // the material is on top
      if (lua_getfield(t, LUA_REGISTRYINDEX, "ostrel.random_ticks") == LUA_TTABLE) {
        lua_pushvalue(t, -2);
        lua_pushnil(t);
        lua_rawset(t, -3);
      }
      lua_pop(t, 2);
    });
    owned("ostrel.domain_generators", [&](lua_State* t) {  // the domain id is on top
      const std::string key = fmt::format("ostrel.domain_generate.{}", text_at(t, -1));
      lua_pop(t, 1);
      lua_pushnil(t);
      lua_setfield(t, LUA_REGISTRYINDEX, key.c_str());
    });
    if (lua_getfield(s, LUA_REGISTRYINDEX, "ostrel.maps") == LUA_TTABLE) {
      const std::string prefix = fmt::format("{}\x1f", mod_id);
      std::vector<std::string> maps;
      lua_pushnil(s);
      while (lua_next(s, -2) != 0) {
        lua_pop(s, 1);
        if (lua_type(s, -1) == LUA_TSTRING && text_at(s, -1).starts_with(prefix)) {
          maps.emplace_back(text_at(s, -1));
        }
      }
      for (const auto& key : maps) {
        push_text(s, key);
        lua_pushnil(s);
        lua_rawset(s, -3);
      }
    }
    lua_pop(s, 1);
  });
}

std::expected<void, ScriptError> LuaVm::call_entry(std::string_view mod_id,
                                                   std::string_view context, int nargs,
                                                   std::uint32_t instructions) {
  std::lock_guard lock(impl_->mu);
  lua_State* L = impl_->L;
  auto& b = impl_->budget;
  impl_->settle_memory(L, false);  // a hoarder found earlier is released before more mod code runs
  // Entries nest: the one this interrupts gets its count and owner back afterwards.
  const budget::Entry outer = budget::arm(L, b, instructions, impl_->owner_of(mod_id));
  const int status = lua_pcall(L, nargs, 1, 0);
  const budget::Entry ran = b.entry;
  budget::disarm(L, b, outer);
  if (status != LUA_OK) {
    auto err = classify(L, ran, status, mod_id, context);
    lua_pop(L, 1);
    impl_->settle_memory(L, false);
    return std::unexpected(std::move(err));
  }
  impl_->settle_memory(L, false);
  return {};
}

// ---- Mods ------------------------------------------------------------------------------

std::expected<void, ScriptError> LuaVm::load_mod(std::string_view mod_id,
                                                 std::string_view init_text,
                                                 std::string_view directory) {
  std::lock_guard lock(impl_->mu);
  lua_State* L = impl_->L;
  const std::string context = "init.lua";
  if (starts_with_bytecode(init_text)) {
    return std::unexpected(ScriptError::runtime(std::string(mod_id), context,
                                                "load: binary chunks are not permitted"));
  }

  // The environment with its `require`, the `game` table with `log`, and the mod's directory.
  const std::string dir_text = convert::valid_utf8(directory);
  int env_ref = LUA_NOREF;
  int game_ref = LUA_NOREF;
  auto built = protect(L, [&](lua_State* s) {
    lua_getfield(s, LUA_REGISTRYINDEX, "ostrel.mod_dirs");
    if (lua_type(s, -1) == LUA_TTABLE) {
      lua_pushlstring(s, dir_text.data(), dir_text.size());
      lua_setfield(s, -2, std::string(mod_id).c_str());
    }
    lua_pop(s, 1);
    push_environment_table(s);
    push_require(s, mod_id, directory, -1);
    lua_setfield(s, -2, "require");
    set_mod_output(s, mod_id, -1);
    lua_newtable(s);
    push_logger(s, mod_id);
    lua_setfield(s, -2, "log");
    lua_pushvalue(s, -1);
    lua_setfield(s, -3, "game");
    game_ref = luaL_ref(s, LUA_REGISTRYINDEX);
    env_ref = luaL_ref(s, LUA_REGISTRYINDEX);
  });
  if (!built) return std::unexpected(engine_error(built.error()));
  LuaRef env(L, env_ref);
  LuaRef game(L, game_ref);

  // The rest of `game`, in order: registration functions, hooks, settings, world options,
  // exports, then the runtime functions. The first installer that fails ends the load before
  // the script runs.
  game.push(L);
  auto installed = install_entity_step_hook(mod_id, -1);
  if (installed) installed = install_world_init_hook(mod_id, -1);
  if (installed) installed = install_cancellable_hooks(mod_id, -1);
  if (installed) installed = install_content(L, mod_id, -1);
  if (installed) installed = media::install_media(L, mod_id, -1);
  if (installed) installed = install_settings(mod_id, -1);
  if (installed) installed = install_world_options(-1);
  if (installed) installed = install_exports(mod_id, -1);
  if (installed) installed = install_tint_registration(mod_id, -1);
  if (installed) installed = fill_game(L, -1, [&](lua_State* s) { install_tools(s, 1, impl_->slots); });
  if (installed) installed = fill_game(L, -1, [&](lua_State* s) { install_inventory(s, 1, impl_->slots); });
  if (installed) installed = install_frozen_api(mod_id, -1);
  lua_pop(L, 1);
  if (!installed) return std::unexpected(installed.error());

  // Compiling allocates, so it runs under the entry's budget too.
  const std::string chunk_name = fmt::format("@{}/init.lua", mod_id);
  const budget::Entry outer = budget::arm(L, impl_->budget, budget(), impl_->owner_of(mod_id));
  const int loaded =
      luaL_loadbufferx(L, init_text.data(), init_text.size(), chunk_name.c_str(), "t");
  const budget::Entry compiled = impl_->budget.entry;
  budget::disarm(L, impl_->budget, outer);
  if (loaded != LUA_OK) {
    auto err = classify(L, compiled, loaded, mod_id, context);
    lua_pop(L, 1);
    impl_->settle_memory(L, false);
    return std::unexpected(std::move(err));
  }
  env.push(L);
  lua_setupvalue(L, -2, 1);
  if (auto r = call_entry(mod_id, context, 0); !r) return std::unexpected(r.error());
  lua_pop(L, 1);
  // Disabled for the memory it held once its script had run: it keeps nothing.
  if (impl_->faulted->contains(mod_id)) {
    return std::unexpected(ScriptError::out_of_memory(std::string(mod_id), context));
  }

  int kept = LUA_NOREF;
  if (auto r = protect(L, [&](lua_State* s) {
        env.push(s);
        kept = luaL_ref(s, LUA_REGISTRYINDEX);
      });
      !r) {
    return std::unexpected(engine_error(r.error()));
  }
  auto& slot = impl_->environments[std::string(mod_id)];
  if (slot != 0) luaL_unref(L, LUA_REGISTRYINDEX, slot);
  slot = kept;
  return {};
}

bool LuaVm::push_environment(std::string_view mod_id) const {
  std::lock_guard lock(impl_->mu);
  auto it = impl_->environments.find(std::string(mod_id));
  if (it == impl_->environments.end()) return false;
  lua_rawgeti(impl_->L, LUA_REGISTRYINDEX, it->second);
  return true;
}

namespace {

// Sets one function on the `game` table at `game` (a stack index of the caller).
template <class Push>
std::expected<void, ScriptError> set_game_function(lua_State* L, int game, const char* name,
                                                   Push push) {
  return fill_game(L, game, [&](lua_State* s) {
    push(s);
    lua_setfield(s, 1, name);
  });
}

}  // namespace

std::expected<void, ScriptError> LuaVm::install_cancellable_hooks(std::string_view mod_id,
                                                                  int game_idx) {
  std::lock_guard lock(impl_->mu);
  lua_State* L = impl_->L;
  const int game = lua_absindex(L, game_idx);
  static constexpr ScopeOption kAnywhere{"anywhere", "ostrel.users_anywhere"};
  for (const auto& h : kCancellableHooks) {
    const std::string name = fmt::format("register_{}", h.hook);
    auto r = set_game_function(L, game, name.c_str(), [&](lua_State* s) {
      push_hook_registrar_with(s, mod_id, h.hook, h.list, h.hook == "on_use" ? &kAnywhere : nullptr);
    });
    if (!r) return r;
    if (h.hook == "on_domain_enter") {
      auto t = set_game_function(L, game, "register_random_tick",
                                 [&](lua_State* s) { push_random_tick_registrar(s, mod_id); });
      if (!t) return t;
    }
  }
  return {};
}

std::expected<void, ScriptError> LuaVm::install_world_init_hook(std::string_view mod_id,
                                                                int game_idx) {
  std::lock_guard lock(impl_->mu);
  lua_State* L = impl_->L;
  return set_game_function(L, lua_absindex(L, game_idx), "register_on_world_init",
                           [&](lua_State* s) {
                             push_once_registrar(s, mod_id, "on_world_init", "ostrel.world_init");
                           });
}

std::expected<void, ScriptError> LuaVm::install_entity_step_hook(std::string_view mod_id,
                                                                 int game_idx) {
  std::lock_guard lock(impl_->mu);
  lua_State* L = impl_->L;
  return set_game_function(L, lua_absindex(L, game_idx), "register_on_entity_step",
                           [&](lua_State* s) {
                             push_once_registrar(s, mod_id, "on_entity_step",
                                                 "ostrel.entity_steppers");
                           });
}

std::expected<void, ScriptError> LuaVm::freeze() {
  std::lock_guard lock(impl_->mu);
  lua_State* L = impl_->L;
  auto r = protect(L, [](lua_State* s) {
    lua_pushboolean(s, 1);
    lua_setfield(s, LUA_REGISTRYINDEX, "ostrel.frozen");
  });
  if (!r) return std::unexpected(engine_error(r.error()));

  for (const auto& mod_id : registry_strings("ostrel.users_scoped")) {
    const auto blocks = registry_strings(fmt::format("ostrel.use_materials.{}", mod_id));
    for (const auto& block : blocks) {
      bool known = false;
      (void)protect(L, [&](lua_State* s) {  // a failed look-up only costs the warning's accuracy
        lua_getfield(s, LUA_REGISTRYINDEX, "ostrel.blocks");
        if (lua_type(s, -1) == LUA_TTABLE) {
          lua_pushlstring(s, block.data(), block.size());
          known = lua_rawget(s, -2) != LUA_TNIL;
          lua_pop(s, 1);
        }
        lua_pop(s, 1);
      });
      if (!known) {
        OSTREL_WARN(kTarget,
                    "`register_on_use` lists a block nobody registered; that entry is never asked",
                    log::text("mod_id", mod_id), log::text("block", block));
      }
    }
  }
  return {};
}

void LuaVm::add_reference_mod(std::string_view mod_id) {
  std::lock_guard lock(impl_->mu);
  impl_->reference_mods.emplace(mod_id);
}

void LuaVm::remove_reference_mod(std::string_view mod_id) {
  std::lock_guard lock(impl_->mu);
  impl_->reference_mods.erase(std::string(mod_id));
}

bool LuaVm::is_reference_mod(std::string_view mod_id) const {
  std::lock_guard lock(impl_->mu);
  return impl_->reference_mods.contains(std::string(mod_id));
}

// ---- Faulted set -----------------------------------------------------------------------

bool LuaVm::is_faulted(std::string_view mod_id) const { return impl_->faulted->contains(mod_id); }

void LuaVm::fault(std::string_view mod_id) { impl_->faulted->insert(mod_id); }

std::vector<std::string> LuaVm::faulted_mods() const {
  sync::PlainLock lock(impl_->faulted->mu);
  return {impl_->faulted->ids.begin(), impl_->faulted->ids.end()};
}

std::optional<std::string> LuaVm::fault_reason(std::string_view mod_id) const {
  std::lock_guard lock(impl_->mu);
  auto it = impl_->fault_reasons.find(mod_id);
  if (it == impl_->fault_reasons.end()) return std::nullopt;
  return it->second;
}

std::vector<std::string> LuaVm::entity_steppers() const {
  return registry_strings("ostrel.entity_steppers");
}

std::vector<std::uint16_t> LuaVm::random_tick_materials() const {
  std::lock_guard lock(impl_->mu);
  std::vector<std::uint16_t> out;
  (void)protect(impl_->L, [&](lua_State* s) {  // unreadable: no materials
    if (lua_getfield(s, LUA_REGISTRYINDEX, "ostrel.random_ticks") == LUA_TTABLE) {
      lua_pushnil(s);
      while (lua_next(s, -2) != 0) {
        lua_pop(s, 1);
        if (lua_isinteger(s, -1)) {
          const lua_Integer k = lua_tointeger(s, -1);
          if (k >= 0 && k <= 65535) out.push_back(static_cast<std::uint16_t>(k));
        }
      }
    }
    lua_pop(s, 1);
  });
  std::sort(out.begin(), out.end());
  return out;
}


// ---- Registry read-back ----------------------------------------------------------------

std::string LuaVm::registry_type(std::string_view name) const {
  std::lock_guard lock(impl_->mu);
  lua_State* L = impl_->L;
  std::string out = "nil";
  (void)protect(L, [&](lua_State* s) {  // only a broken state fails here; it reads as "nil"
    lua_getfield(s, LUA_REGISTRYINDEX, std::string(name).c_str());
    out = convert::type_name(s, -1);
    lua_pop(s, 1);
  });
  return out;
}

std::vector<std::string> LuaVm::registry_strings(std::string_view name) const {
  std::lock_guard lock(impl_->mu);
  std::vector<std::string> out;
  (void)protect(impl_->L, [&](lua_State* s) {  // unreadable: an empty list, as callers expect
    if (lua_getfield(s, LUA_REGISTRYINDEX, std::string(name).c_str()) == LUA_TTABLE) {
      for (lua_Integer i = 1;; ++i) {
        const int t = lua_rawgeti(s, -1, i);
        if (t == LUA_TNIL) {
          lua_pop(s, 1);
          break;
        }
        if (t == LUA_TSTRING) {
          std::size_t len = 0;
          const char* p = lua_tolstring(s, -1, &len);
          out.emplace_back(p, len);
        }
        lua_pop(s, 1);
      }
    }
    lua_pop(s, 1);
  });
  return out;
}

}  // namespace ostrel_core::script::lua_vm
