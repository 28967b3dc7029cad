// game.density: a tree of node tables compiled once into a native density program, and the
// density handle's methods len, at and bounds.

#include <fmt/format.h>

#include <lua.hpp>

#include "detgen/buffer/lattice.hpp"
#include "detgen/rng.hpp"
#include "script/api/fields.hpp"
#include "script/api/terrain.hpp"
#include "script/api/terrain_read.hpp"
#include "script/lua_vm/convert.hpp"

namespace ostrel_core::script::lua_vm {

using detgen::density::Op;

namespace {

constexpr std::size_t kMaxNesting = 64;
constexpr std::string_view kUnknownOp =
    "`{}` is not a density operation. The list is: const, x, y, z, noise, abs, clamp, add, sub, mul, div, "
    "min, max — and it is short on purpose, because every one of them has to be in the deterministic "
    "float subset.";
constexpr std::string_view kBoundsSeed =
    "density:bounds wants the `pos` your generator was handed — it carries the world seed, and a bound "
    "over a box cannot be computed without it";

// The operation list as the reader builds it: it refuses the 4097th operation at once, so a table
// reused as both operands many levels deep fails without being expanded.
class OpList {
 public:
  explicit OpList(lua_State* L) : L_(L) {}
  void push(Op op) {
    if (ops_.size() == detgen::density::kMaxOps) {
      detgen::density::DensityError e{detgen::density::DensityErrorKind::TooManyOps};
      e.count = ops_.size() + 1;
      convert::raise(L_, e.message());
    }
    ops_.push_back(std::move(op));
  }
  std::vector<Op> take() { return std::move(ops_); }

 private:
  lua_State* L_;
  std::vector<Op> ops_;
};

Op::Noise density_noise(lua_State* L, int node) {
  Op::Noise n;
  n.options = terrain_read::noise_options(L, node);
  n.stream = detgen::rng::fnv1a64(terrain_read::text_or(L, node, "stream", "default"));
  const int stretch = fields::raw_field(L, node, "stretch");
  if (stretch != LUA_TNIL) {
    if (stretch != LUA_TTABLE)
      convert::raise(L, "a noise node's `stretch` is a table: { x = 1, y = 4, z = 1 }");
    const char* axes[3] = {"x", "y", "z"};
    for (int a = 0; a < 3; ++a) {
      lua_pushstring(L, axes[a]);
      if (lua_rawget(L, -2) != LUA_TNIL) {
        const auto v = convert::to_number(L, -1);
        if (!v) convert::raise(L, fmt::format("a noise node's `stretch.{}` is a number", axes[a]));
        n.stretch[a] = static_cast<float>(*v);
      }
      lua_pop(L, 1);
    }
  }
  lua_pop(L, 1);
  n.amplitude = terrain_read::f32_or(L, node, "amplitude", 1.0f);
  return n;
}

bool unit_stretch(const Op::Noise& n) {
  return n.stretch[0] == 1.0f && n.stretch[1] == 1.0f && n.stretch[2] == 1.0f;
}

Op map_node(lua_State* L, int node) {
  fields::raw_field(L, node, "map");
  if (lua_type(L, -1) != LUA_TUSERDATA) convert::raise(L, "a `map` node needs a `map` field holding a map");
  const MapHandle* handle = userdata::test<MapHandle>(L, -1);
  if (handle == nullptr) convert::raise(L, "a `map` node's `map` field is not a map");
  auto snapshot = handle->snapshot();
  lua_pop(L, 1);
  if (!snapshot) convert::raise(L, snapshot.error());
  return detgen::density::map_lookup(snapshot->map);
}

void compile_density(lua_State* L, int node, OpList& ops, std::size_t depth);

// Compiles child `key` of the node whose operation is `op`.
void child(lua_State* L, int node, const std::string& op, const char* key, OpList& ops, std::size_t depth) {
  if (fields::raw_field(L, node, key) != LUA_TTABLE)
    convert::raise(L, fmt::format("a `{}` node needs a `{}` field", op, key));
  compile_density(L, lua_gettop(L), ops, depth + 1);
  lua_pop(L, 1);
}

void compile_density(lua_State* L, int node, OpList& ops, std::size_t depth) {
  if (depth > kMaxNesting)
    convert::raise(L, fmt::format("a density table may not nest more than {} deep", kMaxNesting));
  luaL_checkstack(L, 8, "a density table nests too deep");
  fields::raw_field(L, node, "op");
  auto text = lua_isnil(L, -1) ? std::nullopt : std::optional(convert::to_text(L, -1));
  lua_pop(L, 1);
  if (!text || !*text) convert::raise(L, "every node in a density table needs an `op` field");
  const std::string& op = **text;
  if (op == "x" || op == "y" || op == "z") {
    ops.push(Op::Coord{static_cast<std::uint8_t>(op[0] - 'x')});
  } else if (op == "const") {
    ops.push(Op::Const{terrain_read::f32_field(L, node, "value", "density")});
  } else if (op == "noise") {
    ops.push(density_noise(L, node));
  } else if (op == "noise2") {
    const Op::Noise n = density_noise(L, node);
    if (!unit_stretch(n))
      convert::raise(L, "a `noise2` node takes no `stretch`; stretch is a `noise` option");
    ops.push(Op::Noise2{n.amplitude, n.options, n.stream});
  } else if (op == "contour") {
    const Op::Noise n = density_noise(L, node);  // its amplitude is read and dropped
    if (!unit_stretch(n))
      convert::raise(L, "a `contour` node takes no `stretch`; stretch is a `noise` option");
    fields::raw_field(L, node, "signed");
    const bool is_signed = lua_toboolean(L, -1) != 0;
    lua_pop(L, 1);
    ops.push(Op::Contour{is_signed, n.options, n.stream});
  } else if (op == "map") {
    ops.push(map_node(L, node));
  } else if (op == "abs") {
    child(L, node, op, "a", ops, depth);
    ops.push(Op::Abs{});
  } else if (op == "clamp") {
    child(L, node, op, "a", ops, depth);
    ops.push(
        Op::Clamp{terrain_read::f32_or(L, node, "low", -1.0f), terrain_read::f32_or(L, node, "high", 1.0f)});
  } else if (op == "add" || op == "sub" || op == "mul" || op == "div" || op == "min" || op == "max") {
    child(L, node, op, "a", ops, depth);
    child(L, node, op, "b", ops, depth);
    if (op == "add") ops.push(Op::Add{});
    if (op == "sub") ops.push(Op::Sub{});
    if (op == "mul") ops.push(Op::Mul{});
    if (op == "div") ops.push(Op::Div{});
    if (op == "min") ops.push(Op::Min{});
    if (op == "max") ops.push(Op::Max{});
  } else {
    convert::raise(L, fmt::format(fmt::runtime(kUnknownOp), op));
  }
}

// Native bytes a program keeps: its operations and plan, and each map snapshot it holds.
std::size_t program_bytes(const detgen::density::Density& d) {
  std::size_t bytes = d.len() * (sizeof(Op) + sizeof(detgen::density::Memo));
  const detgen::map::Map* last = nullptr;
  for (const Op& op : d.ops()) {
    if (const auto* m = std::get_if<Op::MapLookup>(&op.v); m != nullptr && m->map.get() != last) {
      bytes += m->map->samples.size() * sizeof(float);
      last = m->map.get();
    }
  }
  return bytes;
}

int density(lua_State* L) {
  convert::arg_table(L, 1, "density");
  OpList ops(L);
  compile_density(L, 1, ops, 0);
  auto program = detgen::density::Density::compile(ops.take());
  if (!program) convert::raise(L, program.error().message());
  auto charge = userdata::NativeCharge::take(L, program_bytes(*program));
  userdata::push<DensityHandle>(L, std::make_shared<const detgen::density::Density>(std::move(*program)),
                                std::move(charge));
  return 1;
}

int density_len(lua_State* L) {
  lua_pushinteger(L, static_cast<lua_Integer>(userdata::self<DensityHandle>(L, "len").program->len()));
  return 1;
}

int density_at(lua_State* L) {
  const DensityHandle& h = userdata::self<DensityHandle>(L, "at");
  float p[3];
  for (int a = 0; a < 3; ++a) {
    const auto v = convert::to_number(L, 2 + a);
    if (!v) convert::arg_error(L, 2 + a, "at", v.error().text);
    p[a] = static_cast<float>(*v);
  }
  const auto seed = convert::bits_from_lua(L, 5, "a seed");
  if (!seed) convert::raise(L, seed.error());
  float out[1];
  detgen::density::Scratch scratch;
  const auto r = h.program->evaluate_with(*seed, {1, 1, 1, p[0], p[1], p[2], 1.0f}, out, scratch);
  if (!r) convert::raise(L, r.error().message());
  lua_pushnumber(L, static_cast<lua_Number>(out[0]));
  return 1;
}

int density_bounds(lua_State* L) {
  const DensityHandle& h = userdata::self<DensityHandle>(L, "bounds");
  convert::arg_table(L, 2, "bounds");
  std::int32_t c[3];
  const char* axes[3] = {"x", "y", "z"};
  for (int a = 0; a < 3; ++a) c[a] = terrain_read::i32_field(L, 2, axes[a], "bounds");
  lua_pushliteral(L, "seed");
  lua_rawget(L, 2);
  const auto seed = lua_isnil(L, -1) ? std::nullopt : std::optional(convert::bits_from_lua(L, -1, "a seed"));
  lua_pop(L, 1);
  if (!seed || !*seed) convert::raise(L, kBoundsSeed);
  const auto b = h.program->bounds(**seed, detgen::buffer::lattice::blocks({c[0], c[1], c[2]}));
  lua_createtable(L, 0, 4);
  lua_pushnumber(L, static_cast<lua_Number>(b.low));
  lua_setfield(L, -2, "low");
  lua_pushnumber(L, static_cast<lua_Number>(b.high));
  lua_setfield(L, -2, "high");
  lua_pushboolean(L, b.low > 0.0f);
  lua_setfield(L, -2, "all_solid");
  lua_pushboolean(L, b.high <= 0.0f);
  lua_setfield(L, -2, "all_empty");
  return 1;
}

constexpr userdata::Method kDensityMethods[] = {
    {"len", density_len}, {"at", density_at}, {"bounds", density_bounds}};

}  // namespace

namespace userdata {
template <>
const TypeInfo& type_of<DensityHandle>() {
  static const TypeInfo info{"Ostrel.Density", kDensityMethods, destroy_box<DensityHandle>,
                             box_alive<DensityHandle>};
  return info;
}
}  // namespace userdata

void install_density(lua_State* L, int game_idx) {
  game_idx = lua_absindex(L, game_idx);
  lua_pushcfunction(L, density);
  lua_setfield(L, game_idx, "density");
}

}  // namespace ostrel_core::script::lua_vm
