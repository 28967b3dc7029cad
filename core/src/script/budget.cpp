#include "script/budget.hpp"

#include <algorithm>
#include <cstdlib>

#include <lua.hpp>

namespace ostrel_core::script::budget {
namespace {

// Registry key (by address) of the pre-allocated budget error value. Raising it allocates
// nothing, so it cannot turn into a memory error when the allocator is refusing.
const char kErrorKey = 0;

// How many allocations the allocator lets pass between two reads of the clock; large ones are
// always checked.
constexpr std::uint32_t kClockEvery = 64;
constexpr std::size_t kLargeAllocation = 64 * 1024;

Budget& budget_of(lua_State* L) {
  void* ud = nullptr;
  lua_getallocf(L, &ud);
  return *static_cast<Budget*>(ud);
}

void count_hook(lua_State* L, lua_Debug*);

// Every instruction of `L` (and of the main thread) fires the hook from now on.
void make_sticky(Budget& b, lua_State* L) {
  lua_sethook(L, count_hook, LUA_MASKCOUNT, 1);
  if (b.main != nullptr && b.main != L) lua_sethook(b.main, count_hook, LUA_MASKCOUNT, 1);
}

void count_hook(lua_State* L, lua_Debug*) {
  Budget& b = budget_of(L);
  // A coroutine made in an earlier entry keeps its hook; outside an entry nothing is charged.
  if (!b.armed) return;
  const int step = lua_gethookcount(L);
  b.count += static_cast<std::uint64_t>(step);
  if (!b.exhausted && (b.count > b.limit || std::chrono::steady_clock::now() > b.deadline)) {
    b.exhausted = true;
  }
  if (b.exhausted) {
    make_sticky(b, L);
    lua_rawgetp(L, LUA_REGISTRYINDEX, &kErrorKey);
    lua_error(L);
  }
  // A thread left sticky by an earlier entry goes back to the ordinary interval.
  if (step != kHookInterval) lua_sethook(L, count_hook, LUA_MASKCOUNT, kHookInterval);
}

// Charges a growing allocation to the entry; false when the entry's budget is spent.
bool charge(Budget& b, std::size_t growth) {
  if (b.exhausted) return false;
  b.volume += growth;
  bool late = false;
  if (++b.allocations >= kClockEvery || growth >= kLargeAllocation) {
    b.allocations = 0;
    late = std::chrono::steady_clock::now() > b.deadline;
  }
  if (b.volume > b.volume_limit || late) {
    b.exhausted = true;
    make_sticky(b, b.main);
    return false;
  }
  return true;
}

// Raises the budget error when the entry is past its deadline (or already exhausted).
void check_deadline(lua_State* L) {
  Budget& b = budget_of(L);
  if (!b.armed) return;
  if (!b.exhausted && std::chrono::steady_clock::now() > b.deadline) b.exhausted = true;
  if (b.exhausted) {
    make_sticky(b, L);
    lua_rawgetp(L, LUA_REGISTRYINDEX, &kErrorKey);
    lua_error(L);
  }
}

// Upvalue 1: the library function. Checks the deadline, then calls it with every argument.
int deadline_guard(lua_State* L) {
  check_deadline(L);
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_insert(L, 1);
  lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
  return lua_gettop(L);
}

// `gmatch` whose iterator is guarded too: each step of the iterator is one more match.
int guarded_gmatch(lua_State* L) {
  check_deadline(L);
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_insert(L, 1);
  lua_call(L, lua_gettop(L) - 1, 1);
  lua_pushcclosure(L, deadline_guard, 1);
  return 1;
}

}  // namespace

void guard_pattern_functions(lua_State* L) {
  lua_getglobal(L, "string");
  for (const char* name : {"find", "match", "gsub"}) {
    lua_getfield(L, -1, name);
    lua_pushcclosure(L, deadline_guard, 1);
    lua_setfield(L, -2, name);
  }
  lua_getfield(L, -1, "gmatch");
  lua_pushcclosure(L, guarded_gmatch, 1);
  lua_setfield(L, -2, "gmatch");
  lua_pop(L, 1);
}

void* limited_alloc(void* ud, void* ptr, std::size_t osize, std::size_t nsize) {
  auto& b = *static_cast<Budget*>(ud);
  // With no block, `osize` is a type tag, not a size.
  const std::size_t old_size = ptr != nullptr ? osize : 0;
  if (nsize == 0) {
    std::free(ptr);
    b.used -= old_size;
    return nullptr;
  }
  if (nsize > old_size) {
    // Only growth is refused; a shrink must always succeed.
    const std::size_t growth = nsize - old_size;
    if (b.used + growth > b.memory_limit) return nullptr;
    if (b.armed && !charge(b, growth)) return nullptr;
  }
  void* out = std::realloc(ptr, nsize);
  if (out == nullptr) return nullptr;
  b.used = b.used - old_size + nsize;
  return out;
}

void install_error_value(lua_State* L) {
  lua_pushstring(L, kBudgetMessage);
  lua_rawsetp(L, LUA_REGISTRYINDEX, &kErrorKey);
}

void arm(lua_State* L, Budget& b, std::uint32_t instructions) {
  // An entry armed with more than the engine's budget (the world pre-pass) gets its byte and
  // time allowances scaled alike.
  // Capped so the deadline stays far from the clock's range.
  constexpr std::uint64_t kMaxScale = 4096;
  const std::uint64_t scale = std::clamp<std::uint64_t>(
      b.engine_budget == 0 ? 1 : instructions / b.engine_budget, 1, kMaxScale);
  b.armed = true;
  b.exhausted = false;
  b.count = 0;
  b.limit = instructions;
  b.volume = 0;
  b.volume_limit = kAllocationVolume * scale;
  b.allocations = 0;
  b.deadline = std::chrono::steady_clock::now() + kEntryDeadline * static_cast<std::int64_t>(scale);
  lua_sethook(L, count_hook, LUA_MASKCOUNT, kHookInterval);
}

void disarm(lua_State* L, Budget& b) {
  lua_sethook(L, nullptr, 0, 0);
  b.armed = false;
}

}  // namespace ostrel_core::script::budget
