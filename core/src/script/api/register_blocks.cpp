// `game.register_block` and `game.register_item`: the checks of a block's registration table and
// its rule fields, the one material counter both share, and the block readers.
//
// Every check runs before the number is taken: a refused call leaves no id, number, rules or
// texture behind. Numbers run from 2 to kLastMaterial in the order of the calls.

#include <algorithm>
#include <cmath>
#include <map>

#include <fmt/format.h>
#include <lua.hpp>

#include "base/num.hpp"
#include "base/text.hpp"
#include "script/api/fields.hpp"
#include "script/api/registration.hpp"
#include "script/lua_vm/state.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

[[noreturn]] void refuse(lua_State* L, std::string_view ctx, std::string_view text) {
  convert::raise(L, fmt::format("{}: {}", ctx, text));
}

// Lua truth of table[name]; nil and absent are false.
bool truth(lua_State* L, int t, const char* name) { return fields::get_truth(L, t, name, false); }

bool given(lua_State* L, int t, std::string_view name) {
  const bool out = fields::raw_field(L, t, name) != LUA_TNIL;
  lua_pop(L, 1);
  return out;
}

// Pushes table[name]; false (nil pushed) when absent. A given value that is not a table fails
// with the conversion error.
bool push_table_field(lua_State* L, int t, std::string_view name, std::string_view ctx) {
  const int type = fields::raw_field(L, t, name);
  if (type == LUA_TNIL) return false;
  if (type != LUA_TTABLE) fields::field_error(L, ctx, name, convert::mismatch(L, -1, "table"));
  return true;
}

// The value on top of the stack as text or an integer, refused with the conversion error.
std::string text_field(lua_State* L, std::string_view ctx, std::string_view name) {
  return fields::text_value(L, -1, ctx, name);
}
template <class I>
I integer_field(lua_State* L, std::string_view ctx, std::string_view name) {
  return fields::integer_value<I>(L, -1, ctx, name);
}

constexpr std::string_view kBlockKeys[] = {
    "id",        "name",     "description", "textures",   "hardness",      "dominance",
    "friction",  "light_falloff", "drops",  "tags",       "sounds",        "light_emit",
    "flicker",   "absorbs",  "tint",        "transparent", "cutout",       "passable",
    "sway",      "washes_away", "billboard", "whole",     "sweeps",        "shape",
    "model"};

constexpr std::string_view kItemKeys[] = {"id", "name", "texture", "description"};

// The numbers of a block, checked one by one in this order after its id.
constexpr fields::Field kBlockNumbers[] = {
    fields::f32("hardness").at_least(0.0).refusal(
        "{ctx}: hardness must be a non-negative number of seconds, got {got}"),
    fields::f32("dominance").above(0.0).refusal(
        "{ctx}: dominance must be a positive number, got {got}"),
    fields::f32("friction").within(0.0, 1.0).refusal(
        "{ctx}: friction is a share of the ordinary grip from 0 (ice with nothing to push "
        "against) to 1 (the default), got {got}"),
    fields::integer<std::uint8_t>("light_falloff", 0, 15).refusal(
        "{ctx}: light_falloff is levels lost per block, 0..={hi}, got {got}"),
};

constexpr fields::Field kLightEmit =
    fields::colour("light_emit").integer_channels<std::int64_t>(0, 15).refusal(
        "{ctx}: {field} must be 0..={hi}, got {got}");

// Both are read before either range is checked.
constexpr fields::Field kFlicker[] = {
    fields::number("depth").shown_as("flicker.depth").within(0.0, 1.0).otherwise(0.3).refusal(
        "{ctx}: flicker.depth must be 0..=1, got {got}"),
    fields::number("rate").shown_as("flicker.rate").within(1.0, 30.0).otherwise(8.0).refusal(
        "{ctx}: flicker.rate must be 1..=30 steps a second, got {got}"),
};

// The id in the mod's namespace; the engine's namespace is kept for the engine's materials.
std::string qualify_material(lua_State* L, std::string_view mod_id, std::string_view id) {
  std::string q = qualify(L, mod_id, id);
  if (mod_id == kEngineNamespace) {
    convert::raise(L, fmt::format("mod `{}` may not register into namespace `{}`: it holds the "
                                  "engine's own materials",
                                  mod_id, kEngineNamespace));
  }
  return q;
}

std::string texture_path(lua_State* L, std::string_view qualified, std::string_view path) {
  auto r = check_mod_path(path);
  if (!r) {
    convert::raise(L, fmt::format("register_block(\"{}\"): texture path `{}` {}. Paths are "
                                  "relative to your mod's own directory.",
                                  qualified, path, r.error()));
  }
  return std::move(*r);
}

// The checked path of `textures` (the table on top of the stack).
std::string block_texture_path(lua_State* L, std::string_view qualified) {
  const int t = lua_gettop(L);
  const std::string ctx = fmt::format("register_block(\"{}\")", qualified);
  if (auto k = fields::unknown_key(L, t, {"all"})) {
    refuse(L, ctx, fmt::format("unknown texture key `{}`. Only `all` is supported; per-face "
                               "textures are not implemented yet.",
                               *k));
  }
  if (fields::raw_field(L, t, "all") != LUA_TSTRING) {
    refuse(L, ctx, "`textures` must have an `all` key naming a file, e.g. textures = { all = "
                   "\"white.png\" }");
  }
  std::string path = texture_path(L, qualified, lua_tostring(L, -1));
  lua_pop(L, 1);
  return path;
}

void refuse_if_registered(lua_State* L, std::string_view qualified, std::string_view text) {
  push_registry_table(L, "ostrel.blocks");
  push_text(L, qualified);
  if (lua_rawget(L, -2) != LUA_TNIL) convert::raise(L, text);
  lua_pop(L, 2);
}

// Takes the next material number, refusing once none is left.
lua_Integer take_material(lua_State* L, std::string_view ctx) {
  lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.next_material");
  if (!lua_isinteger(L, -1)) {
    convert::raise(L, "the engine's counter \"ostrel.next_material\" cannot be read");
  }
  const lua_Integer n = lua_tointeger(L, -1);
  lua_pop(L, 1);
  if (n < 2 || n > kLastMaterial) {
    refuse(L, ctx, fmt::format("every material number from 2 to {} is taken; no further block or "
                               "item can be registered",
                               kLastMaterial));
  }
  return n;
}

void store_material(lua_State* L, std::string_view qualified, lua_Integer n) {
  push_registry_table(L, "ostrel.blocks");
  push_text(L, qualified);
  lua_pushinteger(L, n);
  lua_rawset(L, -3);
  lua_pop(L, 1);
  lua_pushinteger(L, n + 1);
  lua_setfield(L, LUA_REGISTRYINDEX, "ostrel.next_material");
}

void store_texture(lua_State* L, std::string_view qualified, std::string_view mod_id,
                   std::string_view path) {
  push_registry_table(L, "ostrel.block_textures");
  push_text(L, qualified);
  lua_createtable(L, 0, 2);
  push_text(L, mod_id);
  lua_setfield(L, -2, "mod");
  push_text(L, path);
  lua_setfield(L, -2, "path");
  lua_rawset(L, -3);
  lua_pop(L, 1);
}

// ---- Rule fields ----------------------------------------------------------------------------

void set_number(lua_State* L, int rules, const char* key, double v) {
  lua_pushnumber(L, v);
  lua_setfield(L, rules, key);
}

void set_bool(lua_State* L, int rules, const char* key, bool v) {
  lua_pushboolean(L, v ? 1 : 0);
  lua_setfield(L, rules, key);
}

void set_text(lua_State* L, int rules, const char* key, std::string_view v) {
  push_text(L, v);
  lua_setfield(L, rules, key);
}

void copy_sounds(lua_State* L, std::string_view mod_id, std::string_view ctx, int table, int rules) {
  if (!push_table_field(L, table, "sounds", ctx)) {
    lua_pop(L, 1);
    return;
  }
  if (fields::raw_field(L, -1, "step") != LUA_TNIL) {
    set_text(L, rules, "step_sound", convert::named_block(mod_id, text_field(L, ctx, "sounds.step")));
  }
  lua_pop(L, 2);
}

void copy_light_emit(lua_State* L, std::string_view ctx, int table, int rules) {
  const bool light = push_table_field(L, table, "light_emit", ctx);
  const int light_idx = lua_gettop(L);
  const bool flicker = push_table_field(L, table, "flicker", ctx);
  const int flicker_idx = lua_gettop(L);
  if (!light) {
    if (flicker) refuse(L, ctx, "`flicker` needs `light_emit`; there is no light to flicker");
    lua_pop(L, 2);
    return;
  }
  // Only the channels given are stored; the reader takes 0 for the others.
  const auto channels = fields::read_channels(L, light_idx, ctx, kLightEmit);
  lua_newtable(L);
  const int out = lua_gettop(L);
  constexpr const char* kChannels[] = {"r", "g", "b"};
  for (std::size_t i = 0; i < 3; ++i) {
    if (!channels.given[i]) continue;
    lua_pushinteger(L, channels.whole(i));
    lua_setfield(L, out, kChannels[i]);
  }
  lua_setfield(L, rules, "light_emit");
  if (flicker) {
    const auto got = fields::read(L, flicker_idx, ctx, kFlicker, /*types_first=*/true);
    lua_createtable(L, 0, 2);
    set_number(L, lua_gettop(L), "depth", got.number("depth"));
    set_number(L, lua_gettop(L), "rate", got.number("rate"));
    lua_setfield(L, rules, "flicker");
  }
  lua_pop(L, 2);
}

void copy_block_flags(lua_State* L, int table, int rules) {
  for (const char* flag : {"transparent", "cutout", "passable", "sway", "washes_away"}) {
    if (given(L, table, flag)) set_bool(L, rules, flag, truth(L, table, flag));
  }
  const int t = fields::raw_field(L, table, "billboard");
  if (t == LUA_TBOOLEAN) {
    set_bool(L, rules, "billboard", lua_toboolean(L, -1) != 0);
  } else if (t == LUA_TSTRING) {
    const std::string_view v = lua_tostring(L, -1);
    if (v != "cross") {
      convert::raise(L, fmt::format("register_block: `billboard` is true, false or \"cross\", "
                                    "not \"{}\"",
                                    v));
    }
    set_text(L, rules, "billboard", "cross");
  } else if (t != LUA_TNIL) {
    convert::raise(L, fmt::format("register_block: `billboard` is true, false or \"cross\", not "
                                  "a {}",
                                  convert::type_name(L, -1)));
  }
  lua_pop(L, 1);
}

// The characters of `s` (a malformed byte counts as one character of its own).
std::vector<std::pair<std::uint32_t, std::string_view>> characters(std::string_view s) {
  std::vector<std::pair<std::uint32_t, std::string_view>> out;
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (i + len > s.size()) len = 1;
    std::uint32_t cp = len == 1 ? c : c & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) {
        len = 1;
        cp = c;
        break;
      }
      cp = (cp << 6) | (b & 0x3F);
    }
    out.emplace_back(cp, s.substr(i, len));
    i += len;
  }
  return out;
}

std::uint32_t shape_mask(lua_State* L, std::string_view ctx) {
  if (lua_type(L, -1) != LUA_TTABLE) {
    refuse(L, ctx, "`shape` is a table of three strings, one layer of nine cells each, bottom first");
  }
  const int shape = lua_gettop(L);
  std::uint32_t mask = 0;
  lua_Integer layers = 0;
  for (lua_Integer i = 1;; ++i) {
    if (lua_rawgeti(L, shape, i) == LUA_TNIL) {
      lua_pop(L, 1);
      break;
    }
    if (i > 3) refuse(L, ctx, "`shape` has more than three layers; a block is three cells tall");
    const std::string layer = text_field(L, ctx, fmt::format("shape[{}]", i));
    lua_pop(L, 1);
    std::vector<std::pair<std::uint32_t, std::string_view>> cells;
    for (const auto& c : characters(layer)) {
      if (!text::is_space(c.first)) cells.push_back(c);  // white space is dropped
    }
    if (cells.size() != 9) {
      refuse(L, ctx, fmt::format("`shape` layer {} has {} cells, not nine", i, cells.size()));
    }
    for (std::uint32_t k = 0; k < 9; ++k) {
      if (cells[k].second == "#") {
        mask |= 1u << ((k % 3) + 3 * static_cast<std::uint32_t>(i - 1) + 9 * (k / 3));
      } else if (cells[k].second != ".") {
        refuse(L, ctx, fmt::format("`shape` cells are `#` or `.`, not `{}`", cells[k].second));
      }
    }
    layers = i;
  }
  if (layers < 3) refuse(L, ctx, fmt::format("`shape` has {} layers, not three (bottom first)", layers));
  if (mask == 0) refuse(L, ctx, "`shape` occupies no cell; a block of nothing is air");
  return mask;
}

void copy_whole(lua_State* L, std::string_view mod_id, std::string_view ctx, int table, int rules) {
  std::optional<std::string> model;
  const int t = fields::raw_field(L, table, "model");
  if (t == LUA_TSTRING) {
    std::size_t len = 0;
    const char* p = lua_tolstring(L, -1, &len);
    if (len == 0) refuse(L, ctx, "`model` names a registered model; it is empty");
    model = convert::named_block(mod_id, {p, len});
  } else if (t != LUA_TNIL) {
    refuse(L, ctx, fmt::format("`model` is a model id (a string), not a {}",
                               convert::type_name(L, -1)));
  }
  lua_pop(L, 1);
  const bool whole = model.has_value() || truth(L, table, "whole");
  set_bool(L, rules, "whole", whole);
  if (fields::raw_field(L, table, "sweeps") != LUA_TNIL) {
    if (!whole) refuse(L, ctx, "`sweeps` is for a `whole` block (Sub-Node Contract §7.6)");
    set_bool(L, rules, "sweeps", lua_toboolean(L, -1) != 0);
  }
  lua_pop(L, 1);
  if (model) set_text(L, rules, "model", *model);
  if (fields::raw_field(L, table, "shape") != LUA_TNIL) {
    lua_pushinteger(L, shape_mask(L, ctx));
    lua_setfield(L, rules, "shape");
  }
  lua_pop(L, 1);
}

void block_absorbs(lua_State* L, std::string_view mod_id, std::string_view ctx, int table,
                   int rules) {
  if (!push_table_field(L, table, "absorbs", ctx)) {
    lua_pop(L, 1);
    return;
  }
  const int absorbs = lua_gettop(L);
  lua_pushnil(L);
  while (lua_next(L, absorbs) != 0) {
    lua_pop(L, 1);
    lua_pushvalue(L, -1);  // to_text must not turn a number key into text in place
    const std::string key = text_field(L, ctx, "absorbs");
    lua_pop(L, 1);
    if (key != "rate" && key != "becomes" && key != "fluid") {
      refuse(L, ctx, fmt::format("unknown absorbs field `{}`", key));
    }
  }
  std::uint32_t rate = 0;
  if (fields::raw_field(L, absorbs, "rate") != LUA_TNIL) rate = integer_field<std::uint32_t>(L, ctx, "absorbs.rate");
  lua_pop(L, 1);
  if (rate < 1 || rate > 27) {
    refuse(L, ctx, fmt::format("absorbs.rate must be 1..={}, got {}. It is how many of a block's "
                               "27 cells this drinks per fluid tick; zero is a block that does not "
                               "absorb, which is what leaving `absorbs` out says.",
                               27, rate));
  }
  lua_newtable(L);
  const int out = lua_gettop(L);
  lua_pushinteger(L, rate);
  lua_setfield(L, out, "rate");
  for (const char* key : {"becomes", "fluid"}) {
    if (fields::raw_field(L, absorbs, key) != LUA_TNIL) {
      set_text(L, out, key, convert::named_block(mod_id, text_field(L, ctx, fmt::format("absorbs.{}", key))));
    }
    lua_pop(L, 1);
  }
  lua_setfield(L, rules, "absorbs");
  lua_pop(L, 1);
}

// `drops` (the table at `drops`): keys by the reference rule, units as unsigned 32-bit. Two keys
// naming the same block are refused, so the result never depends on the table's order.
void copy_drops(lua_State* L, std::string_view mod_id, std::string_view ctx, int drops, int rules) {
  lua_newtable(L);
  const int out = lua_gettop(L);
  std::map<std::string, std::string> written;  // qualified -> the key as written
  lua_pushnil(L);
  while (lua_next(L, drops) != 0) {
    const auto units = integer_field<std::uint32_t>(L, ctx, "drops");
    lua_pop(L, 1);
    lua_pushvalue(L, -1);
    const std::string key = text_field(L, ctx, "drops");
    lua_pop(L, 1);
    std::string block = convert::named_block(mod_id, key);
    auto [it, fresh] = written.emplace(block, key);
    if (!fresh) {
      refuse(L, ctx, fmt::format("drops keys `{}` and `{}` both name `{}`; name each block once",
                                 std::min(it->second, key), std::max(it->second, key), block));
    }
    push_text(L, block);
    lua_pushinteger(L, units);
    lua_rawset(L, out);
  }
  lua_setfield(L, rules, "drops");
}

void copy_tags(lua_State* L, std::string_view ctx, int table, int rules) {
  if (!push_table_field(L, table, "tags", ctx)) {
    lua_pop(L, 1);
    return;
  }
  const int tags = lua_gettop(L);
  lua_newtable(L);
  for (lua_Integer i = 1;; ++i) {
    if (lua_rawgeti(L, tags, i) == LUA_TNIL) {
      lua_pop(L, 1);
      break;
    }
    push_text(L, text_field(L, ctx, fmt::format("tags[{}]", i)));
    lua_rawseti(L, -3, i);
    lua_pop(L, 1);
  }
  lua_setfield(L, rules, "tags");
  lua_pop(L, 1);
}

// Upvalue 1: the mod id.
int register_block(lua_State* L) {
  const auto mod_id = upvalue_text(L, 1);
  arg_table(L, "register_block");
  lua_settop(L, 1);
  refuse_if_frozen(L, mod_id);
  const auto id = registration_id(L, 1);
  if (!id) convert::raise(L, "register_block: missing required field `id`");
  const std::string ctx = fmt::format("register_block(\"{}\")", *id);
  if (auto k = fields::unknown_key(L, 1, kBlockKeys)) refuse(L, ctx, fmt::format("unknown field `{}`", *k));

  const bool transparent = truth(L, 1, "transparent");
  const bool cutout = truth(L, 1, "cutout");
  const bool billboard = truth(L, 1, "billboard");
  const bool has_model = given(L, 1, "model");
  if (transparent && cutout) {
    refuse(L, ctx, "`transparent` is see-through everywhere and `cutout` is see-through in "
                   "places; a block is one or the other");
  }
  if (billboard && (transparent || cutout)) {
    refuse(L, ctx, fmt::format("a `billboard` is drawn as a sprite and has no faces for `{}` to "
                               "apply to; declare the billboard alone (it alpha-tests already)",
                               transparent ? "transparent" : "cutout"));
  }
  if (has_model) {
    const bool sway = truth(L, 1, "sway");
    if (transparent || cutout || sway) {
      refuse(L, ctx, fmt::format("a block with a `model` is drawn as the model and has no faces "
                                 "for `{}` to apply to",
                                 transparent ? "transparent" : cutout ? "cutout" : "sway"));
    }
    if (billboard) refuse(L, ctx, "a block is drawn as a `model` or as a `billboard`, not both");
  }
  if (given(L, 1, "shape") && !has_model && !truth(L, 1, "whole")) {
    refuse(L, ctx, "`shape` needs `whole = true` (or a `model`, which implies it): a shape a "
                   "chisel could take apart is a cut, and a cut is carried, not registered");
  }

  const std::string qualified = qualify_material(L, mod_id, *id);
  std::optional<std::string> texture;
  if (push_table_field(L, 1, "textures", ctx)) texture = block_texture_path(L, qualified);
  lua_pop(L, 1);
  refuse_if_registered(L, qualified, fmt::format("block `{}` is already registered", qualified));

  const auto numbers = fields::read(L, 1, ctx, kBlockNumbers);
  push_table_field(L, 1, "drops", ctx);
  const int drops = lua_gettop(L);  // nil when not given

  lua_newtable(L);
  const int rules = lua_gettop(L);
  if (numbers.given("friction")) set_number(L, rules, "friction", numbers.f32("friction"));
  if (numbers.given("light_falloff")) {
    lua_pushinteger(L, numbers.integer<std::uint8_t>("light_falloff"));
    lua_setfield(L, rules, "light_falloff");
  }
  copy_sounds(L, mod_id, ctx, 1, rules);
  if (numbers.given("hardness")) set_number(L, rules, "hardness", numbers.f32("hardness"));
  if (numbers.given("dominance")) set_number(L, rules, "dominance", numbers.f32("dominance"));
  copy_light_emit(L, ctx, 1, rules);
  copy_block_flags(L, 1, rules);
  copy_whole(L, mod_id, ctx, 1, rules);
  block_absorbs(L, mod_id, ctx, 1, rules);
  if (lua_type(L, drops) == LUA_TTABLE) copy_drops(L, mod_id, ctx, drops, rules);
  copy_tags(L, ctx, 1, rules);
  if (fields::raw_field(L, 1, "tint") != LUA_TNIL) {
    lua_setfield(L, rules, "tint");
  } else {
    lua_pop(L, 1);
  }

  // Every check has passed: take the number and write.
  const lua_Integer n = take_material(L, ctx);
  store_material(L, qualified, n);
  push_registry_table(L, "ostrel.block_rules");
  push_text(L, qualified);
  lua_pushvalue(L, rules);
  lua_rawset(L, -3);
  lua_pop(L, 1);
  if (texture) store_texture(L, qualified, mod_id, *texture);
  lua_pushinteger(L, n);
  return 1;
}

// Upvalue 1: the mod id.
int register_item(lua_State* L) {
  const auto mod_id = upvalue_text(L, 1);
  arg_table(L, "register_item");
  lua_settop(L, 1);
  refuse_if_frozen(L, mod_id);
  const auto id = registration_id(L, 1);
  if (!id) convert::raise(L, "register_item: missing required field `id`");
  const std::string ctx = fmt::format("register_item(\"{}\")", *id);
  if (auto k = fields::unknown_key(L, 1, kItemKeys)) {
    refuse(L, ctx, fmt::format("unknown field `{}`. An item is not a block: it has no hardness, "
                               "no drops and no light, because it is never in the world.",
                               *k));
  }
  const std::string qualified = qualify_material(L, mod_id, *id);
  const std::string qctx = fmt::format("register_item(\"{}\")", qualified);
  std::optional<std::string> texture;
  if (fields::raw_field(L, 1, "texture") != LUA_TNIL) {
    texture = texture_path(L, qualified, text_field(L, qctx, "texture"));
  }
  lua_pop(L, 1);
  refuse_if_registered(L, qualified, fmt::format("`{}` is already registered", qualified));
  std::optional<std::string> name;
  if (fields::raw_field(L, 1, "name") != LUA_TNIL) name = text_field(L, qctx, "name");
  lua_pop(L, 1);

  const lua_Integer n = take_material(L, ctx);
  store_material(L, qualified, n);
  push_registry_table(L, "ostrel.items");
  push_text(L, qualified);
  lua_pushboolean(L, 1);
  lua_rawset(L, -3);
  lua_pop(L, 1);
  if (texture) store_texture(L, qualified, mod_id, *texture);
  if (name) {
    push_registry_table(L, "ostrel.block_rules");
    push_text(L, qualified);
    if (lua_rawget(L, -2) != LUA_TTABLE) {
      lua_pop(L, 1);
      lua_newtable(L);
      push_text(L, qualified);
      lua_pushvalue(L, -2);
      lua_rawset(L, -4);
    }
    set_text(L, lua_gettop(L), "name", *name);
    lua_pop(L, 2);
  }
  lua_pushinteger(L, n);
  return 1;
}

}  // namespace

void set_block_functions(lua_State* L, std::string_view mod_id, int game) {
  set_function(L, game, "register_block", register_block, mod_id);
  set_function(L, game, "register_item", register_item, mod_id);
}

}  // namespace ostrel_core::script::lua_vm
