#include "script/read/stack_table.hpp"

#include <bit>

#include <fmt/format.h>
#include <lua.hpp>

#include "script/lua_vm/convert.hpp"

namespace ostrel_core::script::stack_table {

namespace {

constexpr std::uint32_t kFull = inventory::OCCUPANCY_FULL;

std::uint32_t popcount(std::uint32_t mask) {
  return static_cast<std::uint32_t>(std::popcount(mask & kFull));
}

// Pushes the raw field `key` of the table at `idx`; answers its type.
int field(lua_State* L, int idx, const char* key) {
  lua_pushstring(L, key);
  return lua_rawget(L, idx);
}

// An optional unsigned 32-bit field; raises the engine's conversion error for another type.
std::optional<std::uint32_t> u32_field(lua_State* L, int idx, const char* key) {
  if (field(L, idx, key) == LUA_TNIL) {
    lua_pop(L, 1);
    return std::nullopt;
  }
  auto v = convert::to_integer<std::uint32_t>(L, -1);
  if (!v) convert::raise(L, fmt::format("`{}`: {}", key, v.error().text));
  lua_pop(L, 1);
  return *v;
}

// The stack table's `count` (default 1) times `per_item` units; raises when that does not fit.
std::uint32_t units_of_count(lua_State* L, int idx, std::uint64_t per_item) {
  const std::uint64_t count = u32_field(L, idx, "count").value_or(1);
  const std::uint64_t total = count * per_item;
  if (total > 0xFFFFFFFFu) {
    convert::raise(L, fmt::format("{} items of {} units each does not fit in a stack", count,
                                  per_item));
  }
  return static_cast<std::uint32_t>(total);
}

}  // namespace

std::optional<inventory::Stack> StackSpec::into_stack() && {
  if (material == 0 || units == 0) return std::nullopt;
  inventory::Stack s;
  s.material = material;
  s.units = units;
  s.shape = shape;
  s.cells = cells;
  s.detail = std::move(detail);
  return s;
}

void push_cells_table(lua_State* L, std::span<const std::uint16_t, 27> cells) {
  lua_createtable(L, 27, 0);
  for (std::size_t i = 0; i < cells.size(); ++i) {
    lua_pushinteger(L, cells[i]);
    lua_rawseti(L, -2, static_cast<lua_Integer>(i + 1));
  }
}

void push_stack_table(lua_State* L, const inventory::Stack& stack) {
  lua_createtable(L, 0, 8);
  const auto set = [&](const char* key, lua_Integer v) {
    lua_pushinteger(L, v);
    lua_setfield(L, -2, key);
  };
  set("material", stack.material);
  set("units", stack.units);
  set("blocks", stack.units / 27);
  set("nodes", stack.units % 27);
  if (stack.shape) {
    const std::uint32_t per_item = popcount(*stack.shape);
    set("count", per_item == 0 ? 0 : stack.units / per_item);
  } else {
    set("count", stack.units / 27);
  }
  if (stack.cells) {
    set("shape", stack.shape.value_or(kFull));
  } else if (stack.shape) {
    set("shape", *stack.shape);
  }
  if (stack.cells) {
    push_cells_table(L, *stack.cells);
    lua_setfield(L, -2, "cells");
  }
  if (stack.detail) {
    lua_pushlstring(L, stack.detail->data(), stack.detail->size());
    lua_setfield(L, -2, "detail");
  }
}

std::optional<std::uint32_t> shape_of(lua_State* L, int idx) {
  const auto given = u32_field(L, idx, "shape");
  if (!given) return std::nullopt;
  const std::uint32_t mask = *given & kFull;
  if (mask == 0) {
    convert::raise(L, "shape is an occupancy mask over a block's 27 sub-nodes and cannot be empty");
  }
  if (mask == kFull) return std::nullopt;
  return mask;
}

std::uint32_t units_of(lua_State* L, int idx, std::optional<std::uint32_t> shape) {
  if (auto units = u32_field(L, idx, "units")) return *units;
  return units_of_count(L, idx, shape ? popcount(*shape) : 27);
}

namespace {

// The cell form of a stack table: `cells` is the table on top of the stack.
StackSpec cell_form(lua_State* L, int idx, std::optional<std::string> detail) {
  const int cells_idx = lua_gettop(L);
  const auto len = lua_rawlen(L, cells_idx);
  if (len != 27) {
    convert::raise(L, fmt::format("`cells` has {} entries; it is one per cell of a block, 27, entry "
                                  "i being cell i - 1 (x + 3*y + 9*z)",
                                  len));
  }
  inventory::Cells cells{};
  for (int i = 1; i <= 27; ++i) {
    lua_rawgeti(L, cells_idx, i);
    if (lua_isinteger(L, -1) && lua_tointeger(L, -1) == 0) {
      cells[i - 1] = 0;
    } else {
      // material_of raises with its own text; wrap it with the cell's index.
      lua_pushcfunction(L, [](lua_State* s) -> int {
        lua_pushinteger(s, convert::material_of(s, 1));
        return 1;
      });
      lua_insert(L, -2);
      if (lua_pcall(L, 1, 1, 0) != LUA_OK) {
        const std::string why = convert::error_text(L, -1);
        convert::raise(L, fmt::format("`cells[{}]`: {}", i, why));
      }
      cells[i - 1] = static_cast<std::uint16_t>(lua_tointeger(L, -1));
    }
    lua_pop(L, 1);
  }
  auto canonical = inventory::Stack::of_cells(cells, 1);
  if (!canonical) convert::raise(L, "a stack's `cells` are all empty, which is no stack");

  const int mt = field(L, idx, "material");
  if (mt == LUA_TNUMBER || mt == LUA_TSTRING) {
    const std::uint16_t given = convert::material_of(L, lua_gettop(L));
    if (given != canonical->material) {
      convert::raise(L, fmt::format("a stack's `material` is {} but its cells make it {}: with "
                                    "`cells` the material is the lowest of them, and need not be "
                                    "given",
                                    given, canonical->material));
    }
  }
  lua_pop(L, 1);
  if (auto shape = u32_field(L, idx, "shape")) {
    const std::uint32_t fill = inventory::cut::occupancy_of(cells);
    if ((*shape & kFull) != fill) {
      convert::raise(L, fmt::format("a stack's `shape` is {:#x} but its cells fill {:#x}: with "
                                    "`cells` the shape is theirs, and need not be given",
                                    *shape, fill));
    }
  }
  const std::uint32_t per_item = canonical->item_size();
  StackSpec spec;
  if (auto units = u32_field(L, idx, "units")) {
    if (canonical->cells && *units % per_item != 0) {
      convert::raise(L, fmt::format("{} units is not a whole number of a {}-cell cut of several "
                                    "materials, which moves in whole items",
                                    *units, per_item));
    }
    spec.units = *units;
  } else {
    spec.units = units_of_count(L, idx, per_item);
  }
  spec.detail = std::move(detail);
  spec.shape = canonical->shape;
  spec.cells = canonical->cells;
  spec.material = canonical->material;
  lua_pop(L, 1);  // the cells
  return spec;
}

}  // namespace

StackSpec stack_spec_of(lua_State* L, int idx) {
  idx = lua_absindex(L, idx);
  std::optional<std::string> detail;
  if (field(L, idx, "detail") != LUA_TNIL) {
    if (lua_type(L, -1) != LUA_TSTRING) {
      convert::raise(L, fmt::format("`detail`: {}", convert::mismatch(L, -1, "string").text));
    }
    std::size_t len = 0;
    const char* p = lua_tolstring(L, -1, &len);
    if (len > kMaxDetail) {
      convert::raise(L, fmt::format("a stack's `detail` is at most {} bytes, and this one is {}",
                                    kMaxDetail, len));
    }
    detail.emplace(p, len);
  }
  lua_pop(L, 1);

  const int ct = field(L, idx, "cells");
  if (ct != LUA_TNIL) {
    if (ct != LUA_TTABLE) {
      convert::raise(L, fmt::format("`cells`: {}", convert::mismatch(L, -1, "table").text));
    }
    return cell_form(L, idx, std::move(detail));
  }
  lua_pop(L, 1);

  StackSpec spec;
  field(L, idx, "material");
  spec.material = convert::material_of(L, lua_gettop(L));
  lua_pop(L, 1);
  spec.shape = shape_of(L, idx);
  spec.units = units_of(L, idx, spec.shape);
  spec.detail = std::move(detail);
  return spec;
}

std::optional<inventory::Stack> stack_of(lua_State* L, int idx) {
  return stack_spec_of(L, idx).into_stack();
}

int refusal(lua_State* L, std::string_view text) {
  lua_pushnil(L);
  lua_pushlstring(L, text.data(), text.size());
  return 2;
}

}  // namespace ostrel_core::script::stack_table
