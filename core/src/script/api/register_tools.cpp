// `game.register_tool`: a tool's brush, speed, per-block and per-tag speeds; and the resolver
// that turns those speeds into speeds per material once every mod has registered.

#include <algorithm>
#include <cmath>
#include <map>

#include <fmt/format.h>
#include <lua.hpp>

#include "base/log.hpp"
#include "base/num.hpp"
#include "script/read/records.hpp"
#include "script/api/fields.hpp"
#include "script/api/registration.hpp"
#include "script/lua_vm/state.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

constexpr std::string_view kToolKeys[] = {"id",     "name",    "brush",
                                          "speeds", "default", "speed_multiplier"};
constexpr std::string_view kBrushes[] = {"block", "subnode"};

// A brush or speed of another type reads as the default.
constexpr fields::Field kToolFields[] = {
    fields::text("brush").otherwise("block").mismatch_ignored().one_of(kBrushes).refusal(
        "{ctx}: unknown brush `{got}`. The engine implements `block` and `subnode`."),
    fields::boolean("default"),
    fields::f32("speed_multiplier").above(0.0).otherwise(1.0).mismatch_ignored().refusal(
        "{ctx}: speed_multiplier must be a positive number, got {got}. A tool that digs at "
        "zero speed never finishes, which reads as a hung client rather than as a mistake in a "
        "mod."),
};

// Upvalue 1: the mod id.
int register_tool(lua_State* L) {
  const auto mod_id = upvalue_text(L, 1);
  arg_table(L, "register_tool");
  lua_settop(L, 1);
  refuse_if_frozen(L, mod_id);
  const auto id = registration_id(L, 1);
  if (!id) convert::raise(L, "register_tool: missing required field `id`");
  if (auto k = fields::unknown_key(L, 1, kToolKeys)) {
    convert::raise(L, fmt::format("register_tool(\"{}\"): unknown field `{}`", *id, *k));
  }
  const std::string qualified = qualify(L, mod_id, *id);
  const std::string ctx = fmt::format("register_tool(\"{}\")", qualified);

  const auto got = fields::read(L, 1, ctx, kToolFields);
  const std::string& brush = got.text("brush");
  const bool is_default = got.boolean("default");
  const float speed = got.f32("speed_multiplier");
  push_registry_table(L, "ostrel.tools");  // 2
  lua_pushlstring(L, qualified.data(), qualified.size());
  if (lua_rawget(L, 2) != LUA_TNIL) {
    convert::raise(L, fmt::format("tool `{}` is already registered", qualified));
  }
  lua_pop(L, 1);

  lua_newtable(L);  // 3: the speeds as stored
  const int t = fields::raw_field(L, 1, "speeds");  // 4
  if (t != LUA_TNIL) {
    if (t != LUA_TTABLE) fields::field_error(L, ctx, "speeds", convert::mismatch(L, 4, "table"));
    std::map<std::string, std::string> written;  // stored key -> the key as written
    lua_pushnil(L);
    while (lua_next(L, 4) != 0) {
      auto v = convert::to_number(L, -1);
      if (!v) fields::field_error(L, ctx, "speeds", v.error());
      const float s = fields::to_f32(*v);
      lua_pop(L, 1);
      lua_pushvalue(L, -1);  // to_text must not turn a number key into text in place
      auto k = convert::to_text(L, -1);
      if (!k) fields::field_error(L, ctx, "speeds", k.error());
      lua_pop(L, 1);
      const std::string key = std::move(*k);
      if (!std::isfinite(s) || s <= 0.0f) {
        convert::raise(L, fmt::format("{}: speeds[\"{}\"] must be a positive number, got {}", ctx,
                                      key, num::format_number(s)));
      }
      std::string stored = key.starts_with("#") ? key : convert::named_block(mod_id, key);
      auto [it, fresh] = written.emplace(stored, key);
      if (!fresh) {
        convert::raise(L, fmt::format("{}: speeds keys `{}` and `{}` both name `{}`; name each "
                                      "block once",
                                      ctx, std::min(it->second, key),
                                      std::max(it->second, key), stored));
      }
      lua_pushlstring(L, stored.data(), stored.size());
      lua_pushnumber(L, static_cast<double>(s));
      lua_rawset(L, 3);
    }
  }
  lua_settop(L, 3);

  lua_createtable(L, 0, 5);  // 4: the entry
  lua_pushlstring(L, brush.data(), brush.size());
  lua_setfield(L, 4, "brush");
  lua_pushnumber(L, static_cast<double>(speed));
  lua_setfield(L, 4, "speed");
  lua_pushvalue(L, 3);
  lua_setfield(L, 4, "speeds");
  lua_pushboolean(L, is_default ? 1 : 0);
  lua_setfield(L, 4, "default");
  if (fields::raw_field(L, 1, "name") == LUA_TSTRING || lua_type(L, -1) == LUA_TNUMBER) {
    const std::string name = *convert::to_text(L, -1);
    lua_pushlstring(L, name.data(), name.size());
    lua_setfield(L, 4, "name");
  }
  lua_pop(L, 1);
  lua_pushlstring(L, qualified.data(), qualified.size());
  lua_pushvalue(L, 4);
  lua_rawset(L, 2);
  return 0;
}

}  // namespace

void set_tool_functions(lua_State* L, std::string_view mod_id, int game) {
  set_function(L, game, "register_tool", register_tool, mod_id);
}

}  // namespace ostrel_core::script::lua_vm

namespace ostrel_core::script::records {

ToolSpeeds resolve_tool_speeds(const std::vector<Tool>& tools, const std::vector<BlockRules>& rules,
                               const std::map<std::string, MaterialId, std::less<>>& materials) {
  ToolSpeeds out;
  for (const auto& tool : tools) {
    std::map<MaterialId, float> speeds;
    for (const auto& [key, speed] : tool.speeds) {
      if (key.empty() || key.front() != '#') continue;
      const std::string_view tag = std::string_view(key).substr(1);
      bool carried = false;
      for (const auto& r : rules) {
        for (const auto& t : r.tags) {
          if (t != tag) continue;
          carried = true;
          auto m = materials.find(r.block);
          if (m == materials.end()) continue;
          auto [it, fresh] = speeds.emplace(m->second, speed);
          if (!fresh) it->second = std::max(it->second, speed);
        }
      }
      if (!carried) {
        OSTREL_WARN("ostrel_core::script::vm", "register_tool: speeds names a tag no block carries; ignored",
                    log::text("tool", tool.id), log::text("tag", tag));
      }
    }
    for (const auto& [key, speed] : tool.speeds) {
      if (!key.empty() && key.front() == '#') continue;
      auto m = materials.find(key);
      if (m != materials.end()) speeds[m->second] = speed;
    }
    out.emplace(tool.id, std::move(speeds));
  }
  return out;
}

}  // namespace ostrel_core::script::records
