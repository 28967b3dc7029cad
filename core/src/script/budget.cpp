#include "script/budget.hpp"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include <lua.hpp>

namespace ostrel_core::script::budget {
namespace {

// Registry keys (by address) of the pre-allocated error values. Raising one allocates nothing,
// so it cannot turn into a memory error when the allocator is refusing.
const char kBudgetErrorKey = 0;
const char kWatchdogErrorKey = 0;
const char kMemoryErrorKey = 0;

// Every block begins with its owner; 16 bytes keep the block the allocator hands Lua aligned
// as malloc's.
struct alignas(16) Header {
  Owner owner;
};
static_assert(sizeof(Header) == 16);

Header* header_of(void* block) { return static_cast<Header*>(block) - 1; }

std::uint64_t add(std::uint64_t a, std::uint64_t b) {
  return a > std::numeric_limits<std::uint64_t>::max() - b ? std::numeric_limits<std::uint64_t>::max()
                                                            : a + b;
}

void count_hook(lua_State* L, lua_Debug*);

// Every instruction of `L` (and of the main thread) fires the hook from now on.
void make_sticky(Budget& b, lua_State* L) {
  lua_sethook(L, count_hook, LUA_MASKCOUNT, 1);
  if (b.main != nullptr && b.main != L) lua_sethook(b.main, count_hook, LUA_MASKCOUNT, 1);
}

[[noreturn]] void raise_spent(lua_State* L, Budget& b) {
  make_sticky(b, L);
  lua_rawgetp(L, LUA_REGISTRYINDEX, b.entry.watchdog ? &kWatchdogErrorKey : &kBudgetErrorKey);
  lua_error(L);
  std::abort();  // lua_error does not return
}

void count_hook(lua_State* L, lua_Debug*) {
  Budget& b = of(L);
  // A coroutine made in an earlier entry keeps its hook; outside an entry nothing is charged.
  if (!b.entry.armed) return;
  if (b.over && b.on_over != nullptr) b.on_over(L, b.over_context);
  const int step = lua_gethookcount(L);
  Entry& e = b.entry;
  e.count = add(e.count, static_cast<std::uint64_t>(step));
  if (!e.exhausted) {
    if (e.count > e.limit) {
      e.exhausted = true;
    } else if (e.deadline == std::chrono::steady_clock::time_point{}) {
      e.deadline = std::chrono::steady_clock::now() + e.allowance;
    } else if (std::chrono::steady_clock::now() > e.deadline) {
      e.exhausted = true;
      e.watchdog = true;
    }
  }
  if (e.exhausted) raise_spent(L, b);
  // A thread left sticky by an earlier entry goes back to the ordinary interval.
  if (step != kHookInterval) lua_sethook(L, count_hook, LUA_MASKCOUNT, kHookInterval);
}

// Charges `growth` allocated bytes to the entry; false when that spends its budget.
bool charge_allocation(Budget& b, std::size_t growth) {
  Entry& e = b.entry;
  if (e.exhausted) return false;
  e.allocated += growth;
  e.count = add(e.count, e.allocated / kAllocatedBytesPerUnit);
  e.allocated %= kAllocatedBytesPerUnit;
  if (e.count > e.limit) {
    e.exhausted = true;
    make_sticky(b, b.main);
    return false;
  }
  return true;
}

void hold(Budget& b, Owner owner, std::int64_t delta) {
  if (owner >= b.held.size()) return;  // an owner the engine never registered holds nothing
  b.held[owner] = static_cast<std::uint64_t>(static_cast<std::int64_t>(b.held[owner]) + delta);
}

}  // namespace

Budget& of(lua_State* L) {
  void* ud = nullptr;
  lua_getallocf(L, &ud);
  return *static_cast<Budget*>(ud);
}

std::uint64_t held_by(const Budget& b, Owner owner) {
  return owner < b.held.size() ? b.held[owner] : 0;
}

Owner biggest_holder(const Budget& b) {
  Owner out = kEngine;
  std::uint64_t most = b.reserve == 0 ? 0 : b.reserve - 1;
  for (Owner o = 1; o < b.held.size(); ++o) {
    if (o < b.released.size() && b.released[o]) continue;
    if (b.held[o] > most) {
      most = b.held[o];
      out = o;
    }
  }
  return out;
}

void raise_memory_error(lua_State* L) {
  lua_rawgetp(L, LUA_REGISTRYINDEX, &kMemoryErrorKey);
  lua_error(L);
  std::abort();  // lua_error does not return
}

void* limited_alloc(void* ud, void* ptr, std::size_t osize, std::size_t nsize) {
  auto& b = *static_cast<Budget*>(ud);
  // With no block, `osize` is a type tag, not a size.
  Header* old_header = ptr != nullptr ? header_of(ptr) : nullptr;
  const std::size_t old_size = ptr != nullptr ? osize : 0;
  const Owner old_owner = old_header != nullptr ? old_header->owner : kEngine;
  if (nsize == 0) {
    if (old_header != nullptr) {
      hold(b, old_owner, -static_cast<std::int64_t>(old_size));
      b.used -= old_size;
      std::free(old_header);
    }
    return nullptr;
  }
  // A block grown belongs to whoever grew it; a shrink keeps its owner.
  Owner owner = old_owner;
  if (nsize > old_size) {
    // Only growth is refused; a shrink must always succeed.
    const std::size_t growth = nsize - old_size;
    if (b.used + growth > b.memory_limit) {
      if (b.used + growth > b.memory_limit + b.reserve) return nullptr;
      if (!b.over) {
        b.over = true;
        // Looked at the next instruction, where the state may be touched again.
        if (b.entry.armed && b.main != nullptr) {
          lua_sethook(b.main, count_hook, LUA_MASKCOUNT, 1);
        }
      }
    }
    if (b.entry.armed && !charge_allocation(b, growth)) return nullptr;
    owner = b.entry.armed ? b.entry.owner : kEngine;
  }
  if (nsize > std::numeric_limits<std::size_t>::max() - sizeof(Header)) return nullptr;
  auto* block = static_cast<Header*>(std::realloc(old_header, nsize + sizeof(Header)));
  if (block == nullptr) return nullptr;
  if (old_header != nullptr) hold(b, old_owner, -static_cast<std::int64_t>(old_size));
  block->owner = owner;
  hold(b, owner, static_cast<std::int64_t>(nsize));
  b.used = b.used - old_size + nsize;
  return block + 1;
}

void install_error_values(lua_State* L) {
  lua_pushstring(L, kBudgetMessage);
  lua_rawsetp(L, LUA_REGISTRYINDEX, &kBudgetErrorKey);
  lua_pushstring(L, kWatchdogMessage);
  lua_rawsetp(L, LUA_REGISTRYINDEX, &kWatchdogErrorKey);
  lua_pushstring(L, kMemoryMarker);
  lua_rawsetp(L, LUA_REGISTRYINDEX, &kMemoryErrorKey);
}

Entry arm(lua_State* L, Budget& b, std::uint32_t units, Owner owner) {
  // An entry armed with more than the engine's budget (the world pre-pass) gets its watchdog
  // scaled alike, within bounds.
  constexpr std::uint64_t kMaxScale = 64;
  const std::uint64_t scale =
      std::clamp<std::uint64_t>(b.engine_budget == 0 ? 1 : units / b.engine_budget, 1, kMaxScale);
  if (b.held.size() <= owner) b.held.resize(owner + 1, 0);
  if (b.released.size() <= owner) b.released.resize(owner + 1, false);
  const Entry outer = b.entry;
  b.entry = Entry{};
  b.entry.armed = true;
  b.entry.limit = units;
  b.entry.owner = owner;
  b.entry.allowance = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      b.watchdog * static_cast<std::int64_t>(scale));
  lua_sethook(L, count_hook, LUA_MASKCOUNT, kHookInterval);
  return outer;
}

void disarm(lua_State* L, Budget& b, const Entry& outer) {
  b.entry = outer;
  if (outer.armed) {
    lua_sethook(L, count_hook, LUA_MASKCOUNT, outer.exhausted ? 1 : kHookInterval);
  } else {
    lua_sethook(L, nullptr, 0, 0);
  }
}

void charge(lua_State* L, std::uint64_t units) {
  Budget& b = of(L);
  Entry& e = b.entry;
  if (!e.armed) return;
  if (!e.exhausted) {
    e.count = add(e.count, units);
    if (e.count <= e.limit) return;
    e.exhausted = true;
  }
  raise_spent(L, b);
}

}  // namespace ostrel_core::script::budget
