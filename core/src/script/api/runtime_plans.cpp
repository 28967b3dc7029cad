// game.plans: capture, stamp, info, list, forget. Plans are named, never held: scripts see names
// and summaries only, and every call passes the calling mod's id (upvalue 2), so a mod reaches
// only its own plans. The plan slot is held only while the store's handle is taken
// (convert::plan_store); the store is called after it is released.

#include <algorithm>
#include <lua.hpp>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "building/plan.hpp"
#include "script/api/readers.hpp"
#include "script/api/registration.hpp"
#include "script/api/runtime_call.hpp"
#include "script/api/runtime_items.hpp"
#include "script/read/stack_table.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

// The plan store, raising the poison text; null when no world has filled the slot.
std::shared_ptr<plan::Access> store(lua_State* L) {
  auto s = convert::plan_store(*slots_of(L).plans);
  if (!s) convert::raise(L, s.error());
  return *s;
}

// Non-empty blocks: several entries of a mixed block share one index.
std::size_t block_count(const plan::Plan& p) {
  std::vector<std::uint32_t> indices;
  indices.reserve(p.cells.size());
  for (const auto& c : p.cells) indices.push_back(c.index);
  if (!std::is_sorted(indices.begin(), indices.end())) std::sort(indices.begin(), indices.end());
  return static_cast<std::size_t>(std::unique(indices.begin(), indices.end()) - indices.begin());
}

// Pushes { size = { x, y, z }, blocks, materials = { [name] = units } }.
void push_summary(lua_State* L, const plan::Plan& p) {
  lua_createtable(L, 0, 3);
  lua_createtable(L, 0, 3);
  const std::pair<const char*, std::uint16_t> extents[] = {{"x", p.w}, {"y", p.h}, {"z", p.d}};
  for (const auto& [axis, extent] : extents) {
    lua_pushinteger(L, extent);
    lua_setfield(L, -2, axis);
  }
  lua_setfield(L, -2, "size");
  lua_pushinteger(L, static_cast<lua_Integer>(block_count(p)));
  lua_setfield(L, -2, "blocks");
  const auto tally = p.tally();
  lua_createtable(L, 0, static_cast<int>(std::min<std::size_t>(tally.size(), 1 << 16)));
  for (const auto& [name, units] : tally) {
    push_text(L, name);
    lua_pushinteger(L, units);
    lua_rawset(L, -3);
  }
  lua_setfield(L, -2, "materials");
}

int plans_capture(lua_State* L) {
  const std::string name = convert::arg_text(L, 1, "plans.capture");
  convert::arg_table(L, 2, "plans.capture");
  convert::arg_table(L, 3, "plans.capture");
  const readers::BlockAt from = readers::block_position(L, 2, "plans.capture");
  const readers::BlockAt to = readers::block_position(L, 3, "plans.capture");
  const auto s = store(L);
  if (s == nullptr) return stack_table::refusal(L, "no world");
  const auto captured = s->capture(from.domain, from.pos, to.pos);
  if (!captured) return stack_table::refusal(L, captured.error().message());
  push_summary(L, *captured);
  if (!s->save(mod_of(L), name, *captured)) {
    lua_pop(L, 1);
    return stack_table::refusal(L, "not saved");
  }
  return 1;
}

int plans_stamp(lua_State* L) {
  const std::string name = convert::arg_text(L, 1, "plans.stamp");
  convert::arg_table(L, 2, "plans.stamp");
  const readers::BlockAt at = readers::block_position(L, 2, "plans.stamp");
  const auto s = store(L);
  std::optional<plan::Plan> p = s == nullptr ? std::nullopt : s->load(mod_of(L), name);
  lua_pushboolean(L, p && s->stamp(at.domain, at.pos, std::move(*p)) ? 1 : 0);
  return 1;
}

int plans_info(lua_State* L) {
  const std::string name = convert::arg_text(L, 1, "plans.info");
  const auto s = store(L);
  const std::optional<plan::Plan> p = s == nullptr ? std::nullopt : s->load(mod_of(L), name);
  if (p) {
    push_summary(L, *p);
  } else {
    lua_pushnil(L);
  }
  return 1;
}

int plans_list(lua_State* L) {
  const auto s = store(L);
  push_text_list(L, s == nullptr ? std::vector<std::string>{} : s->names(mod_of(L)));
  return 1;
}

int plans_forget(lua_State* L) {
  const std::string name = convert::arg_text(L, 1, "plans.forget");
  const auto s = store(L);
  lua_pushboolean(L, s != nullptr && s->forget(mod_of(L), name) ? 1 : 0);
  return 1;
}

}  // namespace

void install_plan_api(lua_State* L, std::string_view mod_id, int game_idx, const Slots& slots) {
  const Closure functions[] = {{"capture", plans_capture},
                                    {"stamp", plans_stamp},
                                    {"info", plans_info},
                                    {"list", plans_list},
                                    {"forget", plans_forget}};
  set_mod_table(L, game_idx, "plans", mod_id, slots, functions);
}

}  // namespace ostrel_core::script::lua_vm
