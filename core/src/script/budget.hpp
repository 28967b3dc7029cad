#pragma once
// The limits of one Lua state: the memory limit of the whole state, and the per-entry budget
// of instructions, allocated bytes and wall-clock time that bounds each entry into mod code.
//
// The allocator and the count hook share one `Budget`, reached from either through the
// state's allocator user data. An entry is bracketed by `arm` and `disarm`; outside an entry
// only the memory limit applies.
//
// Exhaustion is sticky: once any of the three budgets is spent, every hook firing raises the
// pre-allocated budget error again (the hook interval drops to one instruction on the running
// thread and the main thread) and every growing allocation is refused, so neither `pcall` nor
// a coroutine can swallow it and go on. The host decides by `exhausted`, never by the text.
//
// Work done inside one C library call is invisible to the count hook. It is bounded where it
// allocates (the allocation volume and the deadline are checked in the allocator) and, for the
// pattern functions, at each call; a single call that neither allocates nor returns (one
// backtracking match) still runs to its end.

#include <chrono>
#include <cstddef>
#include <cstdint>

struct lua_State;
struct lua_Debug;

namespace ostrel_core::script::budget {

// The count hook fires every this many VM instructions.
inline constexpr int kHookInterval = 4096;
// The text of the budget error raised into Lua (35 bytes).
inline constexpr char kBudgetMessage[] = "ostrel: instruction budget exceeded";
// The text of Lua's own out-of-memory error.
inline constexpr char kMemoryMarker[] = "not enough memory";
// Bytes one entry may allocate in total (freed bytes are not given back), for an entry armed
// with the engine's budget; scaled up with a larger budget.
inline constexpr std::uint64_t kAllocationVolume = std::uint64_t{1} << 30;
// Wall-clock time one entry may run for, for an entry armed with the engine's budget; scaled up
// with a larger budget.
inline constexpr std::chrono::milliseconds kEntryDeadline{2000};

struct Budget {
  // Constant after the state is created.
  std::uint64_t memory_limit = 0;  // bytes the whole state may hold
  std::uint32_t engine_budget = 0;  // instructions an ordinary entry gets
  lua_State* main = nullptr;       // the state's main thread

  // The whole state, armed or not.
  std::uint64_t used = 0;  // bytes the state holds now

  // The current entry; meaningful while `armed`.
  bool armed = false;
  bool exhausted = false;            // any of the three budgets spent; sticky until re-armed
  std::uint64_t count = 0;           // instructions counted so far
  std::uint64_t limit = 0;           // instructions allowed
  std::uint64_t volume = 0;          // bytes allocated so far
  std::uint64_t volume_limit = 0;    // bytes allowed
  std::chrono::steady_clock::time_point deadline;
  std::uint32_t allocations = 0;     // since the clock was last read by the allocator
};

// The allocator given to lua_newstate with a Budget as user data.
void* limited_alloc(void* ud, void* ptr, std::size_t osize, std::size_t nsize);

// Stores the budget error value in the registry. Call once after the state is made, in a
// protected call (it allocates).
void install_error_value(lua_State* L);

// Wraps the string library's pattern functions (find, match, gmatch and its iterators, gsub) so
// that each call first checks the entry's deadline: one backtracking match costs no instructions,
// so a loop of them would otherwise run far past the deadline before the count hook fires.
// Call once after the string library is open, in a protected call, before any copy is made.
void guard_pattern_functions(lua_State* L);

// Starts an entry with a fresh count of 0 and `instructions` allowed: installs the count hook on
// the main thread, replacing any hook before. Coroutines made during the entry inherit it.
void arm(lua_State* L, Budget& b, std::uint32_t instructions);
// Ends the entry: removes the hook from the main thread; only the memory limit applies again.
void disarm(lua_State* L, Budget& b);

}  // namespace ostrel_core::script::budget
