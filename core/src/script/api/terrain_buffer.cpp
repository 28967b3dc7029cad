// The chunk buffer handle and its 14 methods.

#include "script/api/terrain_buffer.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <lua.hpp>
#include <optional>

#include "base/num.hpp"
#include "script/api/fields.hpp"
#include "script/api/terrain.hpp"
#include "script/lua_vm/convert.hpp"

namespace ostrel_core::script::lua_vm {

void BufferHandle::write_block(std::uint32_t x, std::uint32_t y, std::uint32_t z, std::uint16_t m) {
  const auto shape = rules->whole_shapes.find(m);
  if (shape == rules->whole_shapes.end()) {
    buffer.set_block(x, y, z, m);
    return;
  }
  detgen::buffer::BlockCells cells{};
  for (std::uint32_t i = 0; i < 27; ++i) cells[i] = ((shape->second >> i) & 1u) ? m : 0;
  buffer.set_block_cells(x, y, z, cells);
}

namespace {

using detgen::buffer::BufferError;

constexpr const char* kNoFluid =
    "no fluid called `{}` — register it with game.register_fluid, and name it in full, as "
    "\"your_mod:its_id\"";

BufferHandle& self(lua_State* L, const char* method) {
  BufferHandle& h = userdata::self<BufferHandle>(L, method);
  if (h.handed_on) convert::raise(L, kHandedOn);
  return h;
}

std::string fn_name(const char* method) { return std::string("BufferHandle.") + method; }

void require_registered(lua_State* L, const BufferHandle& h, const char* method, std::uint16_t m) {
  if (!h.registered(m)) convert::raise(L, fmt::format("{}: material {} is not registered", method, m));
}

std::uint16_t material_arg(lua_State* L, const BufferHandle& h, int idx, const char* method) {
  const auto m = convert::arg_integer<std::uint16_t>(L, idx, fn_name(method));
  require_registered(L, h, method, m);
  return m;
}

const detgen::density::Density& density_arg(lua_State* L, int idx, const char* method) {
  const auto* d = userdata::test<DensityHandle>(L, idx);
  if (d == nullptr)
    convert::arg_error(L, idx, fn_name(method), convert::mismatch(L, idx, "Ostrel.Density").text);
  return *d->program;
}

void raise_buffer(lua_State* L, const BufferError& e) { convert::raise(L, e.message()); }

template <class T>
T check(lua_State* L, std::expected<T, BufferError> r) {
  if (!r) raise_buffer(L, r.error());
  if constexpr (!std::is_void_v<T>) return *r;
}

// An optional integer field: absent or nil gives `fallback`; anything else converts or raises.
template <class I>
I int_field(lua_State* L, int t, const char* key, I fallback, const char* method) {
  if (fields::raw_field(L, t, key) == LUA_TNIL) {
    lua_pop(L, 1);
    return fallback;
  }
  const I v = fields::integer_value<I>(L, -1, method, key);
  lua_pop(L, 1);
  return v;
}

// The density handle in field `key`, or null when absent; `missing` is raised for a value that is
// not a userdata (null: the conversion error) and `other` for a userdata of another type.
const detgen::density::Density* density_field(lua_State* L, int t, const char* key, const char* method,
                                              const char* missing, const char* other) {
  const int type = fields::raw_field(L, t, key);
  if (type == LUA_TNIL && missing == nullptr) {
    lua_pop(L, 1);
    return nullptr;
  }
  if (type != LUA_TUSERDATA) {
    if (missing != nullptr) convert::raise(L, missing);
    fields::field_error(L, method, key, convert::mismatch(L, -1, "userdata"));
  }
  const auto* d = userdata::test<DensityHandle>(L, -1);
  if (d == nullptr) convert::raise(L, other);
  lua_pop(L, 1);
  return d->program.get();
}

// The `detail` option of the table at `opts` (0: none): none, or whether it is smooth.
std::optional<bool> detail_option(lua_State* L, int opts) {
  if (opts == 0 || fields::raw_field(L, opts, "detail") == LUA_TNIL) {
    if (opts != 0) lua_pop(L, 1);
    return std::nullopt;
  }
  const auto text = convert::to_text(L, -1);
  if (!text) fields::field_error(L, "fill_density", "detail", text.error());
  lua_pop(L, 1);
  if (*text == "smooth") return true;
  if (*text == "sampled") return false;
  convert::raise(L, fmt::format("fill_density: `detail` is 'sampled' or 'smooth', not `{}`", *text));
}

int options_arg(lua_State* L, int idx, const char* method) {
  return convert::arg_optional_table(L, idx, fn_name(method)) ? idx : 0;
}

std::uint8_t fluid_id(lua_State* L, const BufferHandle& h, const std::string& name) {
  const auto it = h.rules->fluid_ids.find(name);
  if (it == h.rules->fluid_ids.end()) convert::raise(L, fmt::format(fmt::runtime(kNoFluid), name));
  return it->second;
}

// ---- the methods ------------------------------------------------------------------------------

int fill_all(lua_State* L) {
  BufferHandle& h = self(L, "fill_all");
  h.buffer.fill_all(material_arg(L, h, 2, "fill_all"));
  return 0;
}

int fill_below_heightmap(lua_State* L) {
  BufferHandle& h = self(L, "fill_below_heightmap");
  const auto* hm = userdata::test<Heightmap>(L, 2);
  if (hm == nullptr) {
    convert::arg_error(L, 2, fn_name("fill_below_heightmap"),
                       convert::mismatch(L, 2, "Ostrel.Heightmap").text);
  }
  const auto m = material_arg(L, h, 3, "fill_below_heightmap");
  check(L, h.buffer.fill_below_heightmap(hm->heights, m));
  return 0;
}

int fill_fluid_below(lua_State* L) {
  BufferHandle& h = self(L, "fill_fluid_below");
  const auto level = convert::arg_integer<std::int32_t>(L, 2, fn_name("fill_fluid_below"));
  const std::string name = convert::arg_text(L, 3, fn_name("fill_fluid_below"));
  h.buffer.fill_fluid_below(level, fluid_id(L, h, name));
  return 0;
}

int fill_density(lua_State* L) {
  BufferHandle& h = self(L, "fill_density");
  const auto& d = density_arg(L, 2, "fill_density");
  const auto m = material_arg(L, h, 3, "fill_density");
  const auto detail = detail_option(L, options_arg(L, 4, "fill_density"));
  check(L,
        detail ? h.buffer.fill_density_detail(d, h.seed, m, *detail) : h.buffer.fill_density(d, h.seed, m));
  return 0;
}

int fill_palette(lua_State* L) {
  BufferHandle& h = self(L, "fill_palette");
  const auto& d = density_arg(L, 2, "fill_palette");
  convert::arg_table(L, 3, fn_name("fill_palette"));
  std::vector<detgen::buffer::PaletteBand> bands;
  const lua_Integer n = static_cast<lua_Integer>(lua_rawlen(L, 3));
  for (lua_Integer i = 1; i <= n; ++i) {
    if (lua_rawgeti(L, 3, i) != LUA_TTABLE) convert::raise(L, convert::mismatch(L, -1, "table").text);
    const int t = lua_gettop(L);
    fields::raw_field(L, t, "above");
    const auto above = convert::to_number(L, -1);
    fields::raw_field(L, t, "material");
    const auto material = convert::to_integer<std::uint16_t>(L, -1);
    if (!above || !material)
      convert::raise(L, "fill_palette: every band is `{ above = <number>, material = <id> }`");
    bands.push_back({static_cast<float>(*above), *material});
    lua_settop(L, t - 1);
  }
  auto checked = detgen::buffer::checked_palette(std::move(bands));
  if (!checked) convert::raise(L, "fill_palette: " + checked.error().message());
  for (const auto& b : *checked) require_registered(L, h, "fill_palette", b.material);
  const auto detail = detail_option(L, options_arg(L, 4, "fill_palette"));
  check(L, detail ? h.buffer.fill_palette_detail(d, h.seed, *checked, *detail)
                  : h.buffer.fill_palette(d, h.seed, *checked));
  return 0;
}

int fill_layers(lua_State* L) {
  BufferHandle& h = self(L, "fill_layers");
  if (userdata::test<DensityHandle>(L, 2) == nullptr && lua_type(L, 2) == LUA_TUSERDATA) {
    convert::raise(L, "fill_layers: `depth` is not a density");
  }
  const auto& depth = density_arg(L, 2, "fill_layers");
  if (userdata::test<DensityHandle>(L, 3) == nullptr && lua_type(L, 3) == LUA_TUSERDATA) {
    convert::raise(L, "fill_layers: `code` is not a density");
  }
  const auto& code = density_arg(L, 3, "fill_layers");
  convert::arg_table(L, 4, fn_name("fill_layers"));
  std::vector<detgen::buffer::Layer> layers;
  const lua_Integer n = static_cast<lua_Integer>(lua_rawlen(L, 4));
  for (lua_Integer i = 1; i <= n; ++i) {
    if (lua_rawgeti(L, 4, i) != LUA_TTABLE) convert::raise(L, convert::mismatch(L, -1, "table").text);
    const int t = lua_gettop(L);
    detgen::buffer::Layer l;
    fields::raw_field(L, t, "material");
    const auto material = convert::to_integer<std::uint16_t>(L, -1);
    if (!material) convert::raise(L, "fill_layers: a layer needs a numeric `material`");
    fields::raw_field(L, t, "code");
    const auto c = convert::to_integer<std::int32_t>(L, -1);
    if (!c) convert::raise(L, "fill_layers: a layer needs an integer `code`");
    fields::raw_field(L, t, "from");
    const auto from = convert::to_number(L, -1);
    fields::raw_field(L, t, "to");
    const auto to = convert::to_number(L, -1);
    if (!to) convert::raise(L, "fill_layers: a layer needs a `to` depth");
    l.material = *material;
    l.code = *c;
    l.from = from ? static_cast<float>(*from) : 0.0f;
    l.to = static_cast<float>(*to);
    require_registered(L, h, "fill_layers", l.material);
    layers.push_back(l);
    lua_settop(L, t - 1);
  }
  if (layers.empty()) convert::raise(L, "fill_layers: no layers");
  check(L, h.buffer.fill_layers(depth, code, h.seed, layers));
  return 0;
}

int fill_cover(lua_State* L) {
  BufferHandle& h = self(L, "fill_cover");
  const auto m = material_arg(L, h, 2, "fill_cover");
  const int opts = options_arg(L, 3, "fill_cover");
  std::uint32_t cells = 1;
  const detgen::density::Density* take = nullptr;
  if (opts != 0) {
    cells = int_field<std::uint32_t>(L, opts, "cells", 1, "fill_cover");
    if (cells < 1 || cells > 9)
      convert::raise(L, fmt::format("fill_cover: `cells` is 1 to {}, not {}", 9, cells));
    take = density_field(L, opts, "take", "fill_cover", nullptr, "fill_cover: `take` is not a density");
  }
  check(L, h.buffer.fill_cover(m, cells, take, h.seed, h.rules->passable));
  return 0;
}

int scatter(lua_State* L) {
  BufferHandle& h = self(L, "scatter");
  convert::arg_table(L, 2, fn_name("scatter"));
  detgen::buffer::ScatterSpec spec;
  spec.depth = density_field(L, 2, "depth", "scatter", "scatter: `depth` is the terrain density",
                             "scatter: `depth` is not a density");
  spec.stand = density_field(L, 2, "stand", "scatter", nullptr, "scatter: `stand` is not a density");
  constexpr const char* kList = "scatter: `schematics` is a list from game.schematic";
  if (fields::raw_field(L, 2, "schematics") != LUA_TTABLE) convert::raise(L, kList);
  const int list = lua_gettop(L);
  const lua_Integer n = static_cast<lua_Integer>(lua_rawlen(L, list));
  for (lua_Integer i = 1; i <= n; ++i) {
    if (lua_rawgeti(L, list, i) != LUA_TUSERDATA) convert::raise(L, kList);
    const auto* s = userdata::test<SchematicHandle>(L, -1);
    if (s == nullptr) convert::raise(L, "scatter: every schematic comes from game.schematic");
    for (const auto& b : s->schematic->blocks) require_registered(L, h, "scatter", b.material);
    spec.schematics.push_back(s->schematic.get());  // the list in the table keeps it alive
    lua_pop(L, 1);
  }
  spec.cell = int_field<std::uint32_t>(L, 2, "cell", 4, "scatter");
  if (spec.cell < 1 || spec.cell > 64)
    convert::raise(L, fmt::format("scatter: `cell` is 1 to 64 blocks, not {}", spec.cell));
  const float chance = fields::opt_f32(L, 2, "chance", "scatter").value_or(1.0f);
  spec.chance = chance < 0.0f ? 0.0f : chance > 1.0f ? 1.0f : chance;
  spec.salt = int_field<std::int64_t>(L, 2, "salt", 0, "scatter");
  spec.sink = int_field<std::int32_t>(L, 2, "sink", 1, "scatter");
  const std::uint32_t placed = check(L, h.buffer.scatter(h.seed, spec));
  lua_pushinteger(L, placed);
  return 1;
}

int fill_fluid_terraced(lua_State* L) {
  BufferHandle& h = self(L, "fill_fluid_terraced");
  convert::arg_table(L, 2, fn_name("fill_fluid_terraced"));
  detgen::buffer::TerracedSpec spec;
  spec.level = density_field(L, 2, "level", "fill_fluid_terraced",
                             "fill_fluid_terraced: `level` is a density of world heights",
                             "fill_fluid_terraced: `level` is not a density");
  spec.within = density_field(L, 2, "within", "fill_fluid_terraced", nullptr,
                              "fill_fluid_terraced: `within` is not a density");
  fields::raw_field(L, 2, "fluid");
  const auto name =
      lua_isnil(L, -1)
          ? std::expected<std::string, convert::ConvertError>(std::unexpected(convert::ConvertError{}))
          : convert::to_text(L, -1);
  if (!name) convert::raise(L, "fill_fluid_terraced: `fluid` is a fluid's full id");
  lua_pop(L, 1);
  spec.fluid = fluid_id(L, h, *name);
  if (fields::raw_field(L, 2, "lip") != LUA_TNIL) {
    const auto lip = convert::to_integer<std::uint16_t>(L, -1);
    if (!lip) fields::field_error(L, "fill_fluid_terraced", "lip", lip.error());
    require_registered(L, h, "fill_fluid_terraced", *lip);
    spec.lip = *lip;
  }
  lua_pop(L, 1);
  const std::uint32_t lips = check(L, h.buffer.fill_fluid_terraced(h.seed, spec));
  lua_pushinteger(L, lips);
  return 1;
}

int set_block(lua_State* L) {
  BufferHandle& h = self(L, "set_block");
  std::uint32_t c[3];
  for (int i = 0; i < 3; ++i) c[i] = convert::arg_integer<std::uint32_t>(L, 2 + i, fn_name("set_block"));
  const auto m = convert::arg_integer<std::uint16_t>(L, 5, fn_name("set_block"));
  if (c[0] > 15 || c[1] > 15 || c[2] > 15) {
    convert::raise(L, fmt::format("block ({}, {}, {}) is outside the chunk", c[0], c[1], c[2]));
  }
  require_registered(L, h, "set_block", m);
  h.write_block(c[0], c[1], c[2], m);
  return 0;
}

int set_world(lua_State* L) {
  BufferHandle& h = self(L, "set_world");
  std::int32_t c[3];
  for (int i = 0; i < 3; ++i) c[i] = convert::arg_integer<std::int32_t>(L, 2 + i, fn_name("set_world"));
  const auto m = material_arg(L, h, 5, "set_world");
  const coords::BlockPos at{c[0], c[1], c[2]};
  const bool lands = h.buffer.pos().contains(at);
  if (lands) {
    const coords::LocalPos l = at.local();
    h.write_block(l.x, l.y, l.z, m);
  }
  lua_pushboolean(L, lands ? 1 : 0);
  return 1;
}

int set_subnode_world(lua_State* L) {
  BufferHandle& h = self(L, "set_subnode_world");
  std::int32_t c[3];
  for (int i = 0; i < 3; ++i)
    c[i] = convert::arg_integer<std::int32_t>(L, 2 + i, fn_name("set_subnode_world"));
  const auto m = material_arg(L, h, 5, "set_subnode_world");
  lua_pushboolean(L, h.buffer.set_subnode_world(c[0], c[1], c[2], m) ? 1 : 0);
  return 1;
}

int set_subnode(lua_State* L) {
  BufferHandle& h = self(L, "set_subnode");
  std::uint32_t c[6];
  for (int i = 0; i < 6; ++i) c[i] = convert::arg_integer<std::uint32_t>(L, 2 + i, fn_name("set_subnode"));
  const auto m = convert::arg_integer<std::uint16_t>(L, 8, fn_name("set_subnode"));
  if (c[0] > 15 || c[1] > 15 || c[2] > 15) {
    convert::raise(L, fmt::format("block ({}, {}, {}) is outside the chunk", c[0], c[1], c[2]));
  }
  if (c[3] > 2 || c[4] > 2 || c[5] > 2) {
    convert::raise(L, fmt::format("sub-node ({}, {}, {}) is outside the 3x3x3 block", c[3], c[4], c[5]));
  }
  require_registered(L, h, "set_subnode", m);
  h.buffer.set_cell(3 * c[0] + c[3], 3 * c[1] + c[4], 3 * c[2] + c[5], m);
  return 0;
}

int is_expanded(lua_State* L) {
  lua_pushboolean(L, self(L, "is_expanded").buffer.is_expanded() ? 1 : 0);
  return 1;
}

constexpr userdata::Method kBufferMethods[] = {
    {"fill_all", fill_all},
    {"fill_below_heightmap", fill_below_heightmap},
    {"fill_fluid_below", fill_fluid_below},
    {"fill_density", fill_density},
    {"fill_layers", fill_layers},
    {"fill_cover", fill_cover},
    {"fill_palette", fill_palette},
    {"scatter", scatter},
    {"fill_fluid_terraced", fill_fluid_terraced},
    {"set_block", set_block},
    {"set_world", set_world},
    {"set_subnode_world", set_subnode_world},
    {"set_subnode", set_subnode},
    {"is_expanded", is_expanded},
};

}  // namespace

namespace userdata {
template <>
const TypeInfo& type_of<BufferHandle>() {
  static const TypeInfo info{"BufferHandle", kBufferMethods, destroy_box<BufferHandle>,
                             box_alive<BufferHandle>};
  return info;
}
}  // namespace userdata

BufferHandle& push_buffer_handle(lua_State* L, BufferHandle h) {
  return userdata::push<BufferHandle>(L, std::move(h));
}

}  // namespace ostrel_core::script::lua_vm
