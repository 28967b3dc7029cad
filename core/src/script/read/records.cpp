// The content readers: the registry tables the registration functions wrote, turned into owned
// records. Nothing here raises into a caller or logs; what does not convert is skipped or
// defaulted.

#include <algorithm>
#include <cmath>

#include <lua.hpp>

#include "base/num.hpp"
#include "script/read/records.hpp"
#include "script/api/fields.hpp"
#include "script/api/registration.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "script/lua_vm/state.hpp"

namespace ostrel_core::script::records {
namespace {

using fields::raw_field;
using fields::read_integer;
using fields::read_number;
using fields::read_text;
using lua_vm::read_registry_table;

// Calls `each(L)` for every pair of the table at `t`, with the key at -2 and the value at -1.
template <class F>
void for_pairs(lua_State* L, int t, F&& each) {
  lua_pushnil(L);
  while (lua_next(L, t) != 0) {
    const int top = lua_gettop(L);
    each(L);
    lua_settop(L, top - 1);
  }
}

// The texts of the `tags` sequence of the rules table at `t`; other elements are skipped.
std::vector<std::string> tags_of(lua_State* L, int t) {
  std::vector<std::string> out;
  if (raw_field(L, t, "tags") == LUA_TTABLE) {
    for (lua_Integer i = 1;; ++i) {
      if (lua_rawgeti(L, -1, i) == LUA_TNIL) {
        lua_pop(L, 1);
        break;
      }
      if (auto s = read_text(L, -1)) out.push_back(std::move(*s));
      lua_pop(L, 1);
    }
  }
  lua_pop(L, 1);
  return out;
}

// (billboard, cross): true gives (true, false), the text "cross" (true, true).
std::pair<bool, bool> billboard_of(lua_State* L, int t) {
  const int type = raw_field(L, t, "billboard");
  std::pair<bool, bool> out{false, false};
  if (type == LUA_TBOOLEAN && lua_toboolean(L, -1) != 0) out = {true, false};
  if (type == LUA_TSTRING && std::string_view(lua_tostring(L, -1)) == "cross") out = {true, true};
  lua_pop(L, 1);
  return out;
}

// A tint colour (`low` or `high`) as three bytes; 128 stands for a multiplier of 1.
std::array<std::uint8_t, 3> tint_colour(lua_State* L, int tint, const char* key) {
  std::array<float, 3> v{1.0f, 1.0f, 1.0f};
  if (raw_field(L, tint, key) == LUA_TTABLE) {
    for (int i = 0; i < 3; ++i) {
      lua_rawgeti(L, -1, i + 1);
      if (auto x = read_number(L, -1)) v[i] = fields::to_f32(*x);
      lua_pop(L, 1);
    }
  }
  lua_pop(L, 1);
  std::array<std::uint8_t, 3> out{};
  for (int i = 0; i < 3; ++i) {
    if (std::isnan(v[i])) {
      out[i] = 128;
    } else {
      out[i] = num::saturate<std::uint8_t>(std::clamp(v[i] * 128.0f + 0.5f, 0.0f, 255.0f));
    }
  }
  return out;
}

std::optional<Tint> read_tint(lua_State* L, int rules) {
  if (raw_field(L, rules, "tint") != LUA_TTABLE) {
    lua_pop(L, 1);
    return std::nullopt;
  }
  const int t = lua_gettop(L);
  const float scale = fields::get_f32(L, t, "scale").value_or(32.0f);
  Tint out;
  out.low = tint_colour(L, t, "low");
  out.high = tint_colour(L, t, "high");
  const float strength = fields::get_f32(L, t, "strength").value_or(0.0f);
  lua_pop(L, 1);
  if (!std::isfinite(scale) || scale <= 0.0f) return std::nullopt;
  constexpr std::array<std::uint8_t, 3> kOne{128, 128, 128};
  if (!(strength > 0.0f) && out.low == kOne && out.high == kOne) return std::nullopt;
  out.scale = num::saturate<std::uint16_t>(std::min(std::max(scale, 1.0f), 65535.0f) + 0.5f);
  out.strength = std::isnan(strength)
                     ? 0
                     : num::saturate<std::uint8_t>(
                           std::min(std::clamp(strength, 0.0f, 1.0f) * 255.0f + 0.5f, 255.0f));
  return out;
}

std::optional<Flicker> read_flicker(lua_State* L, int rules) {
  if (raw_field(L, rules, "flicker") != LUA_TTABLE) {
    lua_pop(L, 1);
    return std::nullopt;
  }
  const int t = lua_gettop(L);
  raw_field(L, t, "depth");
  const auto depth = lua_type(L, -1) == LUA_TNUMBER ? read_number(L, -1) : std::nullopt;
  raw_field(L, t, "rate");
  const auto rate = lua_type(L, -1) == LUA_TNUMBER ? read_number(L, -1) : std::nullopt;
  lua_pop(L, 3);
  if (!depth || !rate) return std::nullopt;
  Flicker out;
  out.rate = std::isnan(*rate) ? 0
                               : num::saturate<std::uint8_t>(
                                     std::min(std::clamp(*rate, 1.0, 30.0) + 0.5, 255.0));
  out.depth = std::isnan(*depth) ? 0
                                 : num::saturate<std::uint8_t>(
                                       std::min(std::clamp(*depth, 0.0, 1.0) * 255.0 + 0.5, 255.0));
  return out;
}

BlockRules read_rules(lua_State* L, int t, std::string block) {
  BlockRules r;
  r.block = std::move(block);
  if (t == 0) return r;
  r.hardness = fields::get_f32(L, t, "hardness").value_or(0.75f);
  r.dominance = fields::get_f32(L, t, "dominance").value_or(1.0f);
  if (raw_field(L, t, "drops") == LUA_TTABLE) {
    std::vector<std::pair<std::string, std::uint32_t>> drops;
    for_pairs(L, lua_gettop(L), [&](lua_State* s) {
      auto id = read_text(s, -2);
      auto units = read_integer<std::uint32_t>(s, -1);
      if (id && units) drops.emplace_back(std::move(*id), *units);
    });
    std::stable_sort(drops.begin(), drops.end());
    r.drops = std::move(drops);
  }
  lua_pop(L, 1);
  if (raw_field(L, t, "light_emit") == LUA_TTABLE) {
    const char* channels[] = {"r", "g", "b"};
    for (int i = 0; i < 3; ++i) {
      const auto v = fields::get_integer<std::uint8_t>(L, lua_gettop(L), channels[i]).value_or(0);
      r.light_emit[i] = std::min<std::uint8_t>(v, 15);
    }
  }
  lua_pop(L, 1);
  if (raw_field(L, t, "absorbs") == LUA_TTABLE) {
    const int a = lua_gettop(L);
    r.absorbs.fluid = fields::get_text(L, a, "fluid");
    r.absorbs.becomes = fields::get_text(L, a, "becomes");
    r.absorbs.rate = std::min<std::uint32_t>(fields::get_integer<std::uint32_t>(L, a, "rate").value_or(0), 27);
  }
  lua_pop(L, 1);
  r.step_sound = fields::get_text(L, t, "step_sound");
  r.tags = tags_of(L, t);
  r.tint = read_tint(L, t);
  r.flicker = read_flicker(L, t);
  r.transparent = fields::get_truth(L, t, "transparent", false);
  r.cutout = fields::get_truth(L, t, "cutout", false);
  r.passable = fields::get_truth(L, t, "passable", false);
  r.washes_away = fields::get_truth(L, t, "washes_away", false);
  r.light_falloff = fields::get_integer<std::uint8_t>(L, t, "light_falloff").value_or(0);
  r.sway = fields::get_truth(L, t, "sway", false);
  std::tie(r.billboard, r.cross) = billboard_of(L, t);
  r.friction = fields::get_f32(L, t, "friction").value_or(1.0f);
  r.whole = fields::get_truth(L, t, "whole", false);
  r.shape = fields::get_integer<std::uint32_t>(L, t, "shape").value_or(kFullShape);
  r.sweeps = fields::get_truth(L, t, "sweeps", true);
  r.model = fields::get_text(L, t, "model");
  return r;
}

}  // namespace

std::vector<std::pair<std::string, MaterialId>> registered_blocks(const lua_vm::LuaVm& vm) {
  std::vector<std::pair<std::string, MaterialId>> out;
  read_registry_table(vm, "ostrel.blocks", [&](lua_State* L, int t) {
    for_pairs(L, t, [&](lua_State* s) {
      auto id = lua_type(s, -2) == LUA_TSTRING ? read_text(s, -2) : std::nullopt;
      auto m = read_integer<MaterialId>(s, -1);
      if (id && m) out.emplace_back(std::move(*id), *m);
    });
  });
  std::stable_sort(out.begin(), out.end(),
                   [](const auto& a, const auto& b) { return a.second < b.second; });
  return out;
}

std::map<std::string, MaterialId, std::less<>> block_ids(const lua_vm::LuaVm& vm) {
  std::map<std::string, MaterialId, std::less<>> out;
  for (auto& [id, m] : registered_blocks(vm)) out.emplace(std::move(id), m);
  return out;
}

std::vector<BlockRules> registered_block_rules(const lua_vm::LuaVm& vm) {
  const auto blocks = registered_blocks(vm);
  std::vector<BlockRules> out;
  out.reserve(blocks.size());
  lua_State* L = vm.state();
  const bool read = lua_vm::protect(L, [&](lua_State* s) {
                      const bool have = lua_getfield(s, LUA_REGISTRYINDEX, "ostrel.block_rules") ==
                                        LUA_TTABLE;
                      const int rules = lua_gettop(s);
                      for (const auto& [id, m] : blocks) {
                        int t = 0;
                        if (have) {
                          lua_pushlstring(s, id.data(), id.size());
                          if (lua_rawget(s, rules) == LUA_TTABLE) t = lua_gettop(s);
                        }
                        out.push_back(read_rules(s, t, id));
                        lua_settop(s, rules);
                      }
                    }).has_value();
  if (!read) {
    // The state failed part way: every block still gets its record, with defaults.
    for (std::size_t i = out.size(); i < blocks.size(); ++i) out.push_back(read_rules(L, 0, blocks[i].first));
  }
  return out;
}

std::vector<BlockTexture> registered_block_textures(const lua_vm::LuaVm& vm) {
  const auto ids = block_ids(vm);
  std::vector<std::pair<MaterialId, BlockTexture>> found;
  read_registry_table(vm, "ostrel.block_textures", [&](lua_State* L, int t) {
    for_pairs(L, t, [&](lua_State* s) {
      if (lua_type(s, -2) != LUA_TSTRING || lua_type(s, -1) != LUA_TTABLE) return;
      auto id = read_text(s, -2);
      auto it = ids.find(*id);
      if (it == ids.end()) return;
      const int e = lua_gettop(s);
      if (raw_field(s, e, "mod") != LUA_TSTRING || raw_field(s, e, "path") != LUA_TSTRING) return;
      found.emplace_back(it->second, BlockTexture{*id, lua_tostring(s, -2), lua_tostring(s, -1)});
    });
  });
  std::stable_sort(found.begin(), found.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<BlockTexture> out;
  for (auto& [m, t] : found) out.push_back(std::move(t));
  return out;
}

std::vector<std::string> registered_items(const lua_vm::LuaVm& vm) {
  std::vector<std::string> out;
  read_registry_table(vm, "ostrel.items", [&](lua_State* L, int t) {
    for_pairs(L, t, [&](lua_State* s) {
      if (lua_type(s, -2) == LUA_TSTRING) out.push_back(*read_text(s, -2));
    });
  });
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<Tool> registered_tools(const lua_vm::LuaVm& vm) {
  std::vector<Tool> out;
  read_registry_table(vm, "ostrel.tools", [&](lua_State* L, int t) {
    for_pairs(L, t, [&](lua_State* s) {
      if (lua_type(s, -2) != LUA_TSTRING || lua_type(s, -1) != LUA_TTABLE) return;
      const int e = lua_gettop(s);
      Tool tool;
      tool.id = *read_text(s, -2);
      const auto brush = fields::get_text(s, e, "brush");
      const auto speed = fields::get_f32(s, e, "speed");
      if (!brush || !speed || (*brush != "block" && *brush != "subnode")) return;
      tool.brush = *brush == "block" ? Brush::Block : Brush::Subnode;
      tool.speed = *speed;
      if (raw_field(s, e, "speeds") == LUA_TTABLE) {
        for_pairs(s, lua_gettop(s), [&](lua_State* p) {
          auto key = read_text(p, -2);
          auto v = read_number(p, -1);
          if (key && v) tool.speeds.emplace_back(std::move(*key), fields::to_f32(*v));
        });
      }
      lua_pop(s, 1);
      tool.is_default = fields::get_truth(s, e, "default", false);
      tool.name = fields::get_text(s, e, "name");
      out.push_back(std::move(tool));
    });
  });
  std::stable_sort(out.begin(), out.end(), [](const Tool& a, const Tool& b) { return a.id < b.id; });
  return out;
}

std::vector<FluidRules> registered_fluids(const lua_vm::LuaVm& vm) {
  std::vector<FluidRules> out;
  read_registry_table(vm, "ostrel.fluids", [&](lua_State* L, int t) {
    for_pairs(L, t, [&](lua_State* s) {
      if (lua_type(s, -2) != LUA_TSTRING || lua_type(s, -1) != LUA_TTABLE) return;
      const int e = lua_gettop(s);
      auto material = fields::get_text(s, e, "material");
      auto waterlogs_at = fields::get_integer<std::uint32_t>(s, e, "waterlogs_at");
      auto evaporates = fields::get_integer<std::uint32_t>(s, e, "evaporates");
      auto r = fields::get_integer<std::uint8_t>(s, e, "color_r");
      auto g = fields::get_integer<std::uint8_t>(s, e, "color_g");
      auto b = fields::get_integer<std::uint8_t>(s, e, "color_b");
      auto tick_rate = fields::get_integer<std::uint8_t>(s, e, "tick_rate");
      auto light_falloff = fields::get_integer<std::uint8_t>(s, e, "light_falloff");
      auto opacity = fields::get_f32(s, e, "opacity");
      if (!material || !waterlogs_at || !evaporates || !r || !g || !b || !tick_rate ||
          !light_falloff || !opacity) {
        return;
      }
      FluidRules f;
      f.id = *read_text(s, -2);
      f.material = std::move(*material);
      f.waterlogs_at = *waterlogs_at;
      f.evaporates = *evaporates;
      f.opacity = *opacity;
      f.washes = fields::get_truth(s, e, "washes", false);
      f.tick_rate = *tick_rate;
      f.color_r = *r;
      f.color_g = *g;
      f.color_b = *b;
      f.light_falloff = *light_falloff;
      out.push_back(std::move(f));
    });
  });
  std::stable_sort(out.begin(), out.end(),
                   [](const FluidRules& a, const FluidRules& b) { return a.id < b.id; });
  return out;
}

std::vector<std::pair<std::string, domain::Spec>> registered_domains(const lua_vm::LuaVm& vm) {
  std::vector<std::pair<std::string, domain::Spec>> out;
  read_registry_table(vm, "ostrel.domains", [&](lua_State* L, int t) {
    for_pairs(L, t, [&](lua_State* s) {
      if (lua_type(s, -2) != LUA_TSTRING || lua_type(s, -1) != LUA_TTABLE) return;
      const int e = lua_gettop(s);
      auto kind = fields::get_text(s, e, "kind");
      raw_field(s, e, "scale");
      auto scale = read_number(s, -1);
      lua_pop(s, 1);
      if (!kind || !scale) return;
      domain::Spec spec;
      spec.kind = *kind == "sparse" ? domain::Kind::Sparse : domain::Kind::Voxel;
      spec.scale = *scale;
      spec.instanced = fields::get_truth(s, e, "instanced", false);
      std::optional<std::int64_t> axes[3];
      const char* keys[] = {"position_x", "position_y", "position_z"};
      for (int i = 0; i < 3; ++i) {
        raw_field(s, e, keys[i]);
        if (lua_isinteger(s, -1)) {
          axes[i] = lua_tointeger(s, -1);
        } else if (auto v = read_number(s, -1)) {
          axes[i] = num::saturate<std::int64_t>(*v);
        }
        lua_pop(s, 1);
      }
      if (axes[0] && axes[1] && axes[2]) spec.position = domain::UniversalPos{*axes[0], *axes[1], *axes[2]};
      out.emplace_back(*read_text(s, -2), spec);
    });
  });
  std::stable_sort(out.begin(), out.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  return out;
}

}  // namespace ostrel_core::script::records
