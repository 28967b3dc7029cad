// game.schematic, game.schematic_shapes and game.stamp_schematic, and the schematic handle.
//
// Both builders bound their work before any native cutting: every shape number finite, at most
// kMaxCells cells visited by one shape and by one call, every offset within kMaxReach blocks of
// the root (the scatter pass's work grows with a schematic's reach).

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <lua.hpp>
#include <vector>

#include "base/num.hpp"
#include "building/plan.hpp"
#include "detgen/shapes.hpp"
#include "script/api/fields.hpp"
#include "script/api/terrain.hpp"
#include "script/lua_vm/convert.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "script/lua_vm/slots.hpp"
#include "world/domain.hpp"

namespace ostrel_core::script::lua_vm {

using detgen::buffer::Schematic;
using detgen::buffer::StampBlock;

namespace {

constexpr std::int64_t kMaxReach = 256;                      // blocks from the root, on every axis
constexpr std::uint64_t kMaxCells = std::uint64_t{1} << 24;  // cells one shape, or one call, visits

// The slots game.stamp_schematic reaches, held by its closure.
struct StampSlots {
  SlotHandle<domain::Access> domains;
  SlotHandle<plan::Access> plans;
};

}  // namespace

namespace userdata {
template <>
const TypeInfo& type_of<StampSlots>() {
  static const TypeInfo info{"Ostrel.StampSlots", {}, destroy_box<StampSlots>, box_alive<StampSlots>};
  return info;
}
}  // namespace userdata

namespace {

int schematic_len(lua_State* L) {
  lua_pushinteger(
      L, static_cast<lua_Integer>(userdata::self<SchematicHandle>(L, "len").schematic->blocks.size()));
  return 1;
}
constexpr userdata::Method kSchematicMethods[] = {{"len", schematic_len}};

void push_schematic(lua_State* L, Schematic s) {
  auto charge = userdata::NativeCharge::take(L, s.blocks.size() * sizeof(StampBlock));
  userdata::push<SchematicHandle>(L, std::make_shared<const Schematic>(std::move(s)), std::move(charge));
}

// Pushes entry `i` of the sequence at `t`; at the nil that ends it, pops it and answers false.
bool push_item(lua_State* L, int t, lua_Integer i) {
  if (lua_rawgeti(L, t, i) != LUA_TNIL) return true;
  lua_pop(L, 1);
  return false;
}

// As push_item for a sequence of tables: an entry of another type raises the conversion error
// "{fn}: bad {what} {i} ({why})".
bool push_table_item(lua_State* L, int t, lua_Integer i, std::string_view fn, std::string_view what) {
  if (!push_item(L, t, i)) return false;
  if (lua_type(L, -1) != LUA_TTABLE) {
    convert::raise(L, fmt::format("{}: bad {} {} ({})", fn, what, i, convert::mismatch(L, -1, "table").text));
  }
  return true;
}

// ---- game.schematic ------------------------------------------------------------------------

constexpr const char* kEntryNames[5] = {"dx", "dy", "dz", "material", "mask"};

// Entry `k` (1-based) of the block table on top of the stack, as an integer in [lo, hi].
std::int64_t block_entry(lua_State* L, int k, std::int64_t lo, std::int64_t hi) {
  lua_rawgeti(L, -1, k);
  const auto v = convert::to_integer<std::int64_t>(L, -1);
  lua_pop(L, 1);
  if (!v || *v < lo || *v > hi) {
    convert::raise(L,
                   fmt::format("schematic: every block is `{{dx, dy, dz, material, mask}}`; entry {} ({}) is "
                               "missing or not an integer",
                               k, kEntryNames[k - 1]));
  }
  return *v;
}

int schematic(lua_State* L) {
  convert::arg_table(L, 1, "schematic");
  std::vector<StampBlock> blocks;
  for (lua_Integer i = 1; push_table_item(L, 1, i, "schematic", "block"); ++i) {
    // The mask first, checked before the other four.
    const auto mask =
        block_entry(L, 5, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max());
    if (mask < 1 || mask > detgen::buffer::kCellMask) {
      convert::raise(L, "schematic: a block's mask is a 27-bit cell mask, at least one cell");
    }
    StampBlock b;
    b.dx = static_cast<std::int32_t>(block_entry(L, 1, INT32_MIN, INT32_MAX));
    b.dy = static_cast<std::int32_t>(block_entry(L, 2, INT32_MIN, INT32_MAX));
    b.dz = static_cast<std::int32_t>(block_entry(L, 3, INT32_MIN, INT32_MAX));
    b.material = static_cast<std::uint16_t>(block_entry(L, 4, 0, 65535));
    b.mask = static_cast<std::uint32_t>(mask);
    lua_pop(L, 1);
    if (std::max({std::abs(std::int64_t{b.dx}), std::abs(std::int64_t{b.dy}), std::abs(std::int64_t{b.dz})}) >
        kMaxReach) {
      convert::raise(L,
                     fmt::format("schematic: block {} lies more than {} blocks from the root", i, kMaxReach));
    }
    blocks.push_back(b);
  }
  if (blocks.empty()) convert::raise(L, "schematic: no blocks");
  push_schematic(L, Schematic::of(std::move(blocks)));
  return 1;
}

// ---- game.schematic_shapes -----------------------------------------------------------------

[[noreturn]] void refuse_shape(lua_State* L, lua_Integer shape, std::string_view reason) {
  convert::raise(L, fmt::format("schematic_shapes: shape {}: {}", shape, reason));
}

// The table on top of the stack read as a sequence of exactly `n` numbers into `out`; false when
// it is not a table or holds another count. A non-number element raises the conversion error.
bool numbers(lua_State* L, const char* field, std::size_t n, double* out) {
  if (lua_type(L, -1) != LUA_TTABLE) return false;
  std::size_t count = 0;
  for (lua_Integer i = 1; push_item(L, -1, i); ++i) {
    if (count < n) {
      const auto v = convert::to_number(L, -1);
      if (!v) fields::field_error(L, "schematic_shapes", field, v.error());
      out[count] = *v;
    }
    lua_pop(L, 1);
    if (++count > n) break;
  }
  return count == n;
}

detgen::shapes::Path read_path(lua_State* L, int shape, lua_Integer index) {
  detgen::shapes::Path p;
  if (fields::raw_field(L, shape, "points") != LUA_TTABLE) refuse_shape(L, index, "`points` is a list");
  for (lua_Integer i = 1; push_item(L, -1, i); ++i) {
    std::array<double, 4> point;
    if (!numbers(L, "points", 4, point.data())) refuse_shape(L, index, "every point is `{x, y, z, r}`");
    lua_pop(L, 1);
    p.points.push_back(point);
  }
  lua_pop(L, 1);
  if (p.points.size() < 2) refuse_shape(L, index, "a path needs two points at least");
  return p;
}

std::array<double, 3> three(lua_State* L, int shape, const char* key, lua_Integer index) {
  std::array<double, 3> out;
  fields::raw_field(L, shape, key);
  if (!numbers(L, key, 3, out.data())) refuse_shape(L, index, fmt::format("`{}` is three numbers", key));
  lua_pop(L, 1);
  return out;
}

// The first number of the shape that is not finite, if any.
std::optional<double> not_finite(const detgen::shapes::Shape& s, double rough) {
  std::vector<double> values{rough};
  if (const auto* p = std::get_if<detgen::shapes::Path>(&s.kind)) {
    for (const auto& point : p->points) values.insert(values.end(), point.begin(), point.end());
  } else if (const auto* e = std::get_if<detgen::shapes::Ellipsoid>(&s.kind)) {
    values.insert(values.end(), e->centre.begin(), e->centre.end());
    values.insert(values.end(), e->radii.begin(), e->radii.end());
  }
  for (double v : values) {
    if (!std::isfinite(v)) return v;
  }
  return std::nullopt;
}

detgen::shapes::Shape read_shape(lua_State* L, int shape, lua_Integer index) {
  detgen::shapes::Shape s;
  fields::raw_field(L, shape, "material");
  const auto material = convert::to_integer<std::uint16_t>(L, -1);
  lua_pop(L, 1);
  if (!material) refuse_shape(L, index, "`material` is a block id");
  s.material = *material;
  if (fields::raw_field(L, shape, "priority") != LUA_TNIL) {
    const auto v = convert::to_integer<std::int32_t>(L, -1);
    if (!v) fields::field_error(L, "schematic_shapes", "priority", v.error());
    s.priority = *v;
  }
  lua_pop(L, 1);
  double rough = 0.0;
  if (fields::raw_field(L, shape, "rough") != LUA_TNIL) {
    const auto v = convert::to_number(L, -1);
    if (!v) fields::field_error(L, "schematic_shapes", "rough", v.error());
    rough = *v;
  }
  lua_pop(L, 1);
  fields::raw_field(L, shape, "kind");
  const auto kind = lua_isnil(L, -1) ? std::nullopt : std::optional(convert::to_text(L, -1));
  lua_pop(L, 1);
  if (!kind || !*kind) refuse_shape(L, index, "`kind` is \"path\", \"ellipsoid\" or \"cells\"");
  if (**kind == "path") {
    auto p = read_path(L, shape, index);
    p.rough = rough;
    s.kind = std::move(p);
  } else if (**kind == "ellipsoid") {
    detgen::shapes::Ellipsoid e;
    e.centre = three(L, shape, "centre", index);
    e.radii = three(L, shape, "radii", index);
    for (double r : e.radii) {
      if (!(r > 0.0)) refuse_shape(L, index, "every radius is above zero");
    }
    e.rough = rough;
    s.kind = e;
  } else if (**kind == "cells") {
    const auto at = three(L, shape, "at", index);
    for (double v : at) {
      if (!std::isfinite(v))
        refuse_shape(L, index,
                     fmt::format("every number of a shape is finite, not {}", num::format_number(v)));
    }
    fields::raw_field(L, shape, "mask");
    const auto mask = convert::to_integer<std::uint32_t>(L, -1);
    lua_pop(L, 1);
    if (!mask) refuse_shape(L, index, "`mask` is a 27-bit cell mask");
    s.kind = detgen::shapes::Cells{{num::saturate<std::int32_t>(at[0]), num::saturate<std::int32_t>(at[1]),
                                    num::saturate<std::int32_t>(at[2])},
                                   *mask & detgen::buffer::kCellMask};
  } else {
    refuse_shape(L, index, fmt::format("no shape called `{}`", **kind));
  }
  if (const auto bad = not_finite(s, rough)) {
    refuse_shape(L, index,
                 fmt::format("every number of a shape is finite, not {}", num::format_number(*bad)));
  }
  return s;
}

int schematic_shapes(lua_State* L) {
  convert::arg_table(L, 1, "schematic_shapes");
  std::vector<detgen::shapes::Shape> shapes;
  std::uint64_t visited = 0;
  for (lua_Integer i = 1; push_table_item(L, 1, i, "schematic_shapes", "shape"); ++i) {
    auto s = read_shape(L, lua_gettop(L), i);
    lua_pop(L, 1);
    const auto e = detgen::shapes::extent(s);
    if (e.cells > kMaxCells) {
      refuse_shape(L, i, fmt::format("a shape may visit at most {} cells, not {}", kMaxCells, e.cells));
    }
    for (int a = 0; a < 3 && !e.empty; ++a) {
      if (e.low[a] < -kMaxReach || e.high[a] > kMaxReach) {
        refuse_shape(L, i, fmt::format("a shape may reach at most {} blocks from the root", kMaxReach));
      }
    }
    visited += e.cells;
    if (visited > kMaxCells) {
      convert::raise(L, fmt::format("schematic_shapes: the shapes visit more than {} cells in all; cut the "
                                    "structure into smaller ones",
                                    kMaxCells));
    }
    shapes.push_back(std::move(s));
  }
  Schematic cut = detgen::shapes::rasterise(shapes);
  if (cut.blocks.empty()) convert::raise(L, "schematic_shapes: the shapes cover no cell");
  push_schematic(L, std::move(cut));
  return 1;
}

// ---- game.stamp_schematic ------------------------------------------------------------------

[[noreturn]] void refuse_stamp(lua_State* L, std::string_view reason) {
  convert::raise(L, fmt::format("stamp_schematic: {}", reason));
}

int stamp_schematic(lua_State* L) {
  const bool has_options = convert::arg_optional_table(L, 3, "stamp_schematic");
  const auto* slots = userdata::test<StampSlots>(L, lua_upvalueindex(1));
  const SchematicHandle* handle = userdata::test<SchematicHandle>(L, 1);
  if (handle == nullptr)
    refuse_stamp(L, "`schematic` is one built by game.schematic or game.schematic_shapes");
  if (lua_type(L, 2) != LUA_TTABLE) refuse_stamp(L, "`pos` is a table of whole blocks, { x, y, z }");
  std::array<std::int32_t, 3> root;
  const char* axes[3] = {"x", "y", "z"};
  for (int a = 0; a < 3; ++a) {
    lua_pushstring(L, axes[a]);
    lua_rawget(L, 2);
    const auto v = convert::whole_number(L, -1);
    lua_pop(L, 1);
    if (!v || *v < INT32_MIN || *v > INT32_MAX)
      refuse_stamp(L, fmt::format("`pos.{}` is a whole block coordinate", axes[a]));
    root[a] = static_cast<std::int32_t>(*v);
  }
  auto options = stamp_options(L, has_options ? 3 : 0, 2);
  if (!options) convert::raise(L, options.error());

  if (slots != nullptr) {
    if (auto domains = slots->domains->get(); domains != nullptr && !domains->exists(options->domain)) {
      refuse_stamp(L, fmt::format("`domain` names no domain: \"{}\"", options->domain));
    }
  }
  std::vector<StampBlock> entries = handle->schematic->turned(options->turn);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const StampBlock& b = entries[i];
    const std::int64_t at[3] = {std::int64_t{root[0]} + b.dx, std::int64_t{root[1]} + b.dy,
                                std::int64_t{root[2]} + b.dz};
    for (std::int64_t v : at) {
      if (v < INT32_MIN || v > INT32_MAX) {
        refuse_stamp(L, fmt::format("block {} lands past the edge of the coordinates from `pos`", i + 1));
      }
    }
  }
  if (slots == nullptr) {
    lua_pushboolean(L, 0);
    return 1;
  }
  auto store = convert::plan_store(*slots->plans);
  if (!store) convert::raise(L, store.error());
  const bool queued =
      *store != nullptr && (*store)->stamp_schematic(options->domain, root, std::move(entries));
  lua_pushboolean(L, queued ? 1 : 0);
  return 1;
}

}  // namespace

namespace userdata {
template <>
const TypeInfo& type_of<SchematicHandle>() {
  static const TypeInfo info{"Ostrel.Schematic", kSchematicMethods, destroy_box<SchematicHandle>,
                             box_alive<SchematicHandle>};
  return info;
}
}  // namespace userdata

std::expected<StampOptions, std::string> stamp_options(lua_State* L, int options, int pos) {
  auto refusal = [](std::string_view reason) {
    return std::unexpected(fmt::format("stamp_schematic: {}", reason));
  };
  StampOptions out;
  if (options != 0) {
    options = lua_absindex(L, options);
    // Unknown keys first: every key is looked at, and the first in text order is named.
    std::vector<std::string> unknown;
    lua_pushnil(L);
    while (lua_next(L, options) != 0) {
      lua_pop(L, 1);
      if (lua_type(L, -1) == LUA_TSTRING) {
        std::size_t len = 0;
        const char* k = lua_tolstring(L, -1, &len);
        const std::string_view key(k, len);
        if (key != "domain" && key != "turn") unknown.emplace_back(key);
      } else {
        unknown.push_back(fmt::format("a {} key", convert::type_name(L, -1)));
      }
    }
    if (!unknown.empty()) {
      return refusal(fmt::format("no option called `{}`; the options are `domain` and `turn`",
                                 *std::min_element(unknown.begin(), unknown.end())));
    }
    lua_pushliteral(L, "domain");
    if (lua_rawget(L, options) != LUA_TNIL) {
      auto text = convert::to_text(L, -1);
      lua_pop(L, 1);
      if (!text) return refusal("`domain` is a domain's id, as a string");
      if (text->empty()) return refusal("`domain` is a domain's id, not an empty string");
      out.domain = std::move(*text);
    } else {
      lua_pop(L, 1);
    }
    lua_pushliteral(L, "turn");
    if (lua_rawget(L, options) != LUA_TNIL) {
      const auto turn = convert::whole_number(L, -1);
      lua_pop(L, 1);
      if (!turn) return refusal("`turn` is a whole number of quarter turns, 0 to 3");
      if (static_cast<std::uint64_t>(*turn) > 3) {
        return refusal(fmt::format("`turn` is 0 to 3 quarter turns about the vertical, not {}", *turn));
      }
      out.turn = static_cast<std::uint8_t>(*turn);
    } else {
      lua_pop(L, 1);
    }
  }
  if (out.domain.empty()) out.domain = convert::domain_of(L, pos);
  return out;
}

void install_schematic(lua_State* L, int game_idx, const Slots& slots) {
  game_idx = lua_absindex(L, game_idx);
  lua_pushcfunction(L, schematic);
  lua_setfield(L, game_idx, "schematic");
  lua_pushcfunction(L, schematic_shapes);
  lua_setfield(L, game_idx, "schematic_shapes");
  userdata::push<StampSlots>(L, StampSlots{slots.domains, slots.plans});
  lua_pushcclosure(L, stamp_schematic, 1);
  lua_setfield(L, game_idx, "stamp_schematic");
}

}  // namespace ostrel_core::script::lua_vm
