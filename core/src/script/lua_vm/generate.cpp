// Chunk generation in the engine: the generators of a domain run on one chunk buffer, handed to
// them through a BufferHandle, and the buffer becomes the chunk and its fluid. Also what every
// per-chunk call shares: the position table, the seeded `math.random` and the read-only maps.

#include <fmt/format.h>

#include <algorithm>
#include <lua.hpp>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/log.hpp"
#include "detgen/rng.hpp"
#include "script/api/registration.hpp"
#include "script/api/terrain_buffer.hpp"
#include "script/lua_vm/events.hpp"
#include "script/lua_vm/generation.hpp"
#include "script/lua_vm/ref.hpp"
#include "script/lua_vm/state.hpp"

namespace ostrel_core::script::lua_vm {

using vm::ScriptError;

void refuse_map_change_while_generating(lua_State* L) {
  lua_getfield(L, LUA_REGISTRYINDEX, kGeneratingFlag);
  const bool generating = lua_toboolean(L, -1) != 0;
  lua_pop(L, 1);
  if (generating) convert::raise(L, kMapsReadOnly);
}

namespace {

void set_generating(lua_State* L, bool on) {
  // The key exists from the engine's creation, so setting it allocates nothing.
  lua_pushboolean(L, on ? 1 : 0);
  lua_setfield(L, LUA_REGISTRYINDEX, kGeneratingFlag);
}

}  // namespace

ChunkCall::ChunkCall(lua_State* L) : L_(L) { set_generating(L_, true); }
ChunkCall::~ChunkCall() { set_generating(L_, false); }

void push_position(lua_State* L, std::string_view domain, std::uint64_t seed, coords::ChunkPos pos) {
  lua_createtable(L, 0, 5);
  set_integer(L, "x", pos.x);
  set_integer(L, "y", pos.y);
  set_integer(L, "z", pos.z);
  set_integer(L, "seed", static_cast<std::int64_t>(seed));
  set_text(L, "domain", domain);
}

void seed_random(lua_State* L, std::uint64_t seed, coords::ChunkPos pos, std::string_view mod_id) {
  // The globals' `math` is the library every environment copied; mods cannot reach it.
  lua_rawgeti(L, LUA_REGISTRYINDEX, LUA_RIDX_GLOBALS);
  if (lua_getfield(L, -1, "math") != LUA_TTABLE) {
    lua_pop(L, 2);
    return;
  }
  if (lua_getfield(L, -1, "randomseed") != LUA_TFUNCTION) {
    lua_pop(L, 3);
    return;
  }
  detgen::rng::StreamRng stream(seed, {pos.x, pos.y, pos.z}, fmt::format("math.random {}", mod_id));
  lua_pushinteger(L, static_cast<lua_Integer>(stream.next_u64()));
  lua_pushinteger(L, static_cast<lua_Integer>(stream.next_u64()));
  lua_call(L, 2, 0);
  lua_pop(L, 2);
}

namespace {

// Walks the table at the top of the stack, if it is one, calling fn with the key at -2 and the
// value at -1; pops the table.
template <class F>
void each_pair(lua_State* L, F&& fn) {
  if (lua_type(L, -1) == LUA_TTABLE) {
    lua_pushnil(L);
    while (lua_next(L, -2) != 0) {
      fn();
      lua_pop(L, 1);
    }
  }
  lua_pop(L, 1);
}

void read_fluid_ids(lua_State* L, BufferRules& out) {
  lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.fluid_ids");
  each_pair(L, [&] {
    if (lua_type(L, -2) != LUA_TSTRING) return;
    const auto id = convert::to_integer<std::uint8_t>(L, -1);
    if (id) out.fluid_ids.emplace(std::string(text_at(L, -2)), *id);
  });
}

// The shaped and the passable materials: each registered block's rule, looked up by its id.
void read_block_rules(lua_State* L, BufferRules& out) {
  lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.block_rules");
  const int rules = lua_gettop(L);
  lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.blocks");
  if (lua_type(L, rules) == LUA_TTABLE) {
    each_pair(L, [&] {
      if (lua_type(L, -2) != LUA_TSTRING) return;
      const auto m = convert::to_integer<std::uint16_t>(L, -1);
      if (!m) return;
      lua_pushvalue(L, -2);
      if (lua_rawget(L, rules) == LUA_TTABLE) {
        if (lua_getfield(L, -1, "shape") != LUA_TNIL) {
          const auto mask = convert::to_integer<std::uint32_t>(L, -1);
          if (mask && *mask != 0x7FFFFFFu) out.whole_shapes.emplace(*m, *mask);
        }
        lua_pop(L, 1);
        if (lua_getfield(L, -1, "passable") == LUA_TBOOLEAN && lua_toboolean(L, -1)) {
          out.passable.push_back(*m);
        }
        lua_pop(L, 1);
      }
      lua_pop(L, 1);
    });
  } else {
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
  std::sort(out.passable.begin(), out.passable.end());
  lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.next_material");
  if (const auto n = convert::to_integer<std::uint32_t>(L, -1)) out.next_material = *n;
  lua_pop(L, 1);
}

bool frozen(lua_State* L) {
  lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.frozen");
  const bool on = lua_toboolean(L, -1) != 0;
  lua_pop(L, 1);
  return on;
}

// The registry's answers for the buffer handle. Kept in the engine once registration has closed
// (nothing but set_fluid_ids changes them then, and it drops the copy); read afresh before.
std::shared_ptr<const BufferRules> buffer_rules(LuaVm::Impl& impl, lua_State* L) {
  if (impl.buffer_rules) return impl.buffer_rules;
  BufferRules rules;
  read_fluid_ids(L, rules);
  read_block_rules(L, rules);
  auto made = std::make_shared<const BufferRules>(std::move(rules));
  if (frozen(L)) impl.buffer_rules = made;
  return made;
}

// One generator to run: its mod and the registry key of its function.
struct Turn {
  std::string mod_id;
  std::string key;
};

// The generators of `domain`, in order; raises when the list's table cannot be read.
std::vector<Turn> generator_list(lua_State* L, std::string_view domain) {
  std::vector<Turn> out;
  if (domain == "overworld") {
    if (lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.generators") != LUA_TTABLE) {
      convert::raise(L, "the engine's table \"ostrel.generators\" cannot be read");
    }
    for (lua_Integer i = 1; lua_rawgeti(L, -1, i) != LUA_TNIL; ++i) {
      if (lua_type(L, -1) == LUA_TSTRING) {
        std::string mod_id(text_at(L, -1));
        out.push_back({mod_id, fmt::format("ostrel.on_generate.{}", mod_id)});
      }
      lua_pop(L, 1);
    }
    lua_pop(L, 2);
    return out;
  }
  if (lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.domain_generators") != LUA_TTABLE) {
    convert::raise(L, "the engine's table \"ostrel.domain_generators\" cannot be read");
  }
  const std::string_view name = domain.substr(0, domain.find('/'));
  push_text(L, name);
  if (lua_rawget(L, -2) == LUA_TSTRING) {
    out.push_back({std::string(text_at(L, -1)), fmt::format("ostrel.domain_generate.{}", name)});
  }
  lua_pop(L, 2);
  return out;
}

}  // namespace

std::expected<GeneratedChunk, ScriptError> LuaVm::generate_chunk(std::string_view domain, std::uint64_t seed,
                                                                 coords::ChunkPos pos,
                                                                 material::MaterialId fill) {
  std::lock_guard lock(impl_->mu);
  lua_State* L = impl_->L;
  ChunkCall call(L);

  // The handle and the list, before any generator runs.
  int handle_ref = LUA_NOREF;
  std::vector<Turn> turns;
  auto made = protect(L, [&](lua_State* s) {
    BufferHandle h{detgen::buffer::ChunkBuffer(pos), buffer_rules(*impl_, s), seed};
    if (fill != material::kAir) h.buffer.fill_all(fill);
    push_buffer_handle(s, std::move(h));
    handle_ref = luaL_ref(s, LUA_REGISTRYINDEX);
    turns = generator_list(s, domain);
  });
  LuaRef handle(L, handle_ref);
  if (!made) return std::unexpected(engine_error(made.error()));

  for (const Turn& turn : turns) {
    if (is_faulted(turn.mod_id)) continue;
    bool missing = false;
    std::optional<ScriptError> failed;
    auto ran = protect(L, [&](lua_State* s) {
      if (lua_getfield(s, LUA_REGISTRYINDEX, turn.key.c_str()) != LUA_TFUNCTION) {
        missing = true;
        lua_pop(s, 1);
        return;
      }
      handle.push(s);
      push_position(s, domain, seed, pos);
      seed_random(s, seed, pos, turn.mod_id);
      auto called = call_entry(turn.mod_id, "on_generate", 2);
      if (!called) {
        failed = std::move(called.error());
        return;
      }
      lua_pop(s, 1);  // whatever it returned is ignored
    });
    if (!ran) return std::unexpected(engine_error(ran.error()));
    if (missing) {
      return std::unexpected(
          engine_error(fmt::format("no generator function is stored under \"{}\"", turn.key)));
    }
    if (failed) {
      fault(turn.mod_id);
      OSTREL_ERROR(kTarget, "disabling mod after generation failure", log::text("mod_id", turn.mod_id),
                   log::text("error", failed->with_detail()));
      return std::unexpected(std::move(*failed));
    }
  }

  // The buffer leaves the handle, which refuses every later call: a generator that kept it holds
  // nothing but an empty shell.
  std::optional<detgen::buffer::ChunkBuffer> buffer;
  auto taken = protect(L, [&](lua_State* s) {
    handle.push(s);
    BufferHandle* h = userdata::test<BufferHandle>(s, -1);
    if (h == nullptr) convert::raise(s, "the chunk buffer handle could not be borrowed");
    buffer.emplace(std::move(h->buffer));
    h->handed_on = true;
  });
  if (!taken) return std::unexpected(engine_error(taken.error()));
  return GeneratedChunk{buffer->to_chunk(), buffer->finished_fluid()};
}

}  // namespace ostrel_core::script::lua_vm
