#pragma once
// Item stacks as scripts see them. Going out, a Stack becomes a stack table:
//   material  integer   the material id
//   units     integer   the count in units (27 a whole block)
//   blocks    integer   units / 27        nodes  integer  units % 27
//   count     integer   items: units / cells of the shape (0 for an empty shape), else units / 27
//   shape     integer   the shape; 0x7FFFFFF for a full cut of several materials; absent if loose
//   cells     27 integers, entry i being cell i - 1: only for a cut of several materials
//   detail    string    absent when the stack has none
// e.g. 100 units of loose material 5: {material=5, units=100, blocks=3, nodes=19, count=3}.
// Coming in, a stack table names a stack: `detail`, then `cells` (27 entries: block ids, material
// numbers or 0), `material`, `shape`, then `units` (wins) or `count` (items, default 1). A stack
// table the engine reported reads back as the same stack.
//
// REQUIRES for every function: called on the thread that owns the state. The readers raise
// their refusals as Lua errors and so must run inside a protected call.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "building/inventory/stack.hpp"

struct lua_State;

namespace ostrel_core::script::stack_table {

// What a stack table says, before it becomes a Stack.
struct StackSpec {
  std::optional<std::string> detail;          // at most kMaxDetail bytes
  std::optional<std::uint32_t> shape;         // never 0, never the full mask
  std::optional<inventory::Cells> cells;      // two or more different materials only
  std::uint32_t units = 0;
  std::uint16_t material = 0;

  // None for air or no units; otherwise a Stack of `units` units with the rest copied.
  std::optional<inventory::Stack> into_stack() &&;
};

inline constexpr std::size_t kMaxDetail = 256;

// Pushes the stack table of `stack`.
void push_stack_table(lua_State* L, const inventory::Stack& stack);
// Pushes a sequence of the 27 materials, entry i + 1 being cells[i].
void push_cells_table(lua_State* L, std::span<const std::uint16_t, 27> cells);

// Reads the stack table at `idx`; raises with the refusal's text.
StackSpec stack_spec_of(lua_State* L, int idx);
// stack_spec_of, then into_stack.
std::optional<inventory::Stack> stack_of(lua_State* L, int idx);
// The stack table's `shape`: none when absent or full; raises for an empty mask.
std::optional<std::uint32_t> shape_of(lua_State* L, int idx);
// The stack table's `units`, else `count` (default 1) times the units of one item.
std::uint32_t units_of(lua_State* L, int idx, std::optional<std::uint32_t> shape);
// Pushes nil and `text`: the answer of a refused request. Returns 2, the values pushed.
int refusal(lua_State* L, std::string_view text);

}  // namespace ostrel_core::script::stack_table
