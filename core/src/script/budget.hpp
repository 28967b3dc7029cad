#pragma once
// The limits of one Lua state: the memory limit of the whole state, with every live byte
// attributed to the mod whose entry allocated it, and the budget of one entry into mod code.
//
// The budget counts units of work, one unit being about one VM instruction. The count hook adds
// kHookInterval every kHookInterval instructions; native work adds its own cost, charged by the
// library functions whose work grows with their arguments (charge()) and by the allocator for
// every byte an entry allocates. Every charge is a pure function of what the mod asked for, so
// the same mods reach the same outcome on every machine, idle or loaded: no clock decides
// whether an entry fails. The cost model, in units:
//
//   a VM instruction                                     1
//   a byte copied by a library function                  1/16  (kCopyBytesPerUnit)
//   a byte scanned, decoded or converted                 1/4   (kScanBytesPerUnit)
//   an element moved, packed, unpacked or a repetition   1     (kPerElement)
//   a comparison of table.sort (n * ceil(log2 n))        2     (kPerComparison)
//   a step of a pattern match                            1
//   a byte allocated                                     1/64  (kAllocatedBytesPerUnit)
//   a full collection, per byte of heap                  1/4   (kCollectedBytesPerUnit)
//   a log line: 100, and per byte                        1     (kLogLine, kLogBytesPerUnit)
//
// Exhaustion is sticky: once the budget is spent, every hook firing raises the pre-allocated
// budget error again (the hook interval drops to one instruction on the running thread and the
// main thread), every charge raises it and every growing allocation is refused, so neither
// `pcall` nor a coroutine can swallow it and go on. The host decides by the entry's flag, never
// by the text.
//
// A watchdog remains as a last resort for native work no charge sees (one VM comparison of two
// long strings): an entry still running kWatchdog after it began fails with kWatchdogMessage at
// the next hook firing (counted from the first firing, 4,096 instructions in). It is far above
// what any whole budget costs.
//
// Entries nest (a handler may make the engine dispatch a hook): arm() hands back the outer
// entry, and disarm() restores it with its count and owner.
//
// Memory. Every block carries a small header naming its owner (the engine, or a mod); live bytes
// are summed per owner. A growth that passes the state's limit is made from a reserve above it
// (an eighth of the limit) and marks the state `over`; at the next instruction (the hook fires
// at once) or, for the engine's own work, when that work ends, the engine collects everything it
// can and, when the state is still over its limit, releases the mod holding the most (faults
// it, drops its references, collects again). The running entry fails only when it is that mod's.
// A growth that would pass the reserve too is refused: Lua's memory error in whatever asked.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

struct lua_State;
struct lua_Debug;

namespace ostrel_core::script::budget {

// The count hook fires every this many VM instructions.
inline constexpr int kHookInterval = 4096;
// The text of the budget error raised into Lua (35 bytes).
inline constexpr char kBudgetMessage[] = "ostrel: instruction budget exceeded";
// The text of Lua's own out-of-memory error.
inline constexpr char kMemoryMarker[] = "not enough memory";
// The watchdog's time for an entry armed with the engine's budget (scaled up, to at most 64
// times, with a larger budget) and its error text.
inline constexpr std::chrono::seconds kWatchdog{30};
inline constexpr char kWatchdogMessage[] =
    "ostrel: the script watchdog stopped an entry that ran for more than 30 seconds";

// The cost model (see above).
inline constexpr std::uint64_t kCopyBytesPerUnit = 16;
inline constexpr std::uint64_t kScanBytesPerUnit = 4;
inline constexpr std::uint64_t kPerElement = 1;
inline constexpr std::uint64_t kPerComparison = 2;
inline constexpr std::uint64_t kAllocatedBytesPerUnit = 64;
inline constexpr std::uint64_t kCollectedBytesPerUnit = 4;
inline constexpr std::uint64_t kLogLine = 100;
inline constexpr std::uint64_t kLogBytesPerUnit = 1;

// Who holds a block: the engine itself, or a mod numbered by the engine from 1.
using Owner = std::uint32_t;
inline constexpr Owner kEngine = 0;

// One entry into mod code.
struct Entry {
  bool armed = false;
  bool exhausted = false;  // the budget is spent; sticky until the entry ends
  bool watchdog = false;   // the watchdog stopped it
  std::uint64_t count = 0;  // units charged so far
  std::uint64_t limit = 0;  // units allowed
  std::uint64_t allocated = 0;  // bytes allocated that did not yet make a whole unit
  // The watchdog's deadline, set at the hook's first firing (an entry that never reaches one
  // never reads the clock): the entry's time allowance counted from then.
  std::chrono::steady_clock::duration allowance{};
  std::chrono::steady_clock::time_point deadline{};
  Owner owner = kEngine;  // the mod whose code runs; charged for what is allocated
};

struct Budget {
  // Constant after the state is created.
  std::uint64_t memory_limit = 0;  // bytes the whole state may hold
  std::uint64_t reserve = 0;       // bytes above the limit while a hoarder waits to be released
  std::uint32_t engine_budget = 0;  // units an ordinary entry gets
  lua_State* main = nullptr;       // the state's main thread

  // The whole state, armed or not.
  std::uint64_t used = 0;              // bytes the state holds now
  std::vector<std::uint64_t> held;     // bytes held, by owner
  std::vector<bool> released;          // owners already released (never chosen again)
  bool over = false;                   // past the limit since the engine last looked
  // Looks at an `over` state (collects, releases a hoarder); called by the count hook on the
  // running thread.
  void (*on_over)(lua_State* L, void* context) = nullptr;
  void* over_context = nullptr;
  std::chrono::nanoseconds watchdog = kWatchdog;  // for an entry armed with the engine's budget

  Entry entry;  // the running entry; `armed` false outside any
};

// The allocator given to lua_newstate with a Budget as user data.
void* limited_alloc(void* ud, void* ptr, std::size_t osize, std::size_t nsize);

// Stores the budget, watchdog and memory error values in the registry. Call once after the
// state is made, in a protected call (it allocates).
void install_error_values(lua_State* L);

// Starts an entry for `owner` with a fresh count of 0 and `units` allowed: installs the count
// hook on the main thread, replacing any hook before. Coroutines made during the entry inherit
// it. Answers the entry it interrupts (not armed when there is none).
Entry arm(lua_State* L, Budget& b, std::uint32_t units, Owner owner);
// Ends the entry and restores `outer` (what arm() answered): its count, its owner and its hook.
void disarm(lua_State* L, Budget& b, const Entry& outer);

// Charges `units` of native work to the running entry; raises the budget error (does not
// return) when that spends the budget, or when it was already spent. Outside an entry it does
// nothing. REQUIRES: called where a Lua error may be raised.
void charge(lua_State* L, std::uint64_t units);
// Units for `n` bytes at `bytes_per_unit`, rounded up, saturating.
constexpr std::uint64_t bytes_cost(std::uint64_t n, std::uint64_t bytes_per_unit) {
  return n / bytes_per_unit + (n % bytes_per_unit != 0 ? 1 : 0);
}

// Raises Lua's memory error ("not enough memory", pre-allocated) in the running code.
[[noreturn]] void raise_memory_error(lua_State* L);

// The Budget of a state (its allocator's user data).
Budget& of(lua_State* L);

// Bytes an owner holds now.
std::uint64_t held_by(const Budget& b, Owner owner);
// The mod holding the most that was not released before, when it holds at least the reserve
// (a mod holding little is never blamed for memory the engine holds); the engine otherwise.
Owner biggest_holder(const Budget& b);

}  // namespace ostrel_core::script::budget
