// The library functions whose work grows with their arguments, charging it. Most keep the stock
// function and put a charge in front of it (a closure whose upvalue is the stock function);
// table.insert, table.remove and table.concat are written here, from the manual's description,
// so that they charge each element as they move it and read a list's length once.

#include "script/lua_vm/charges.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <span>

#include <lua.hpp>

#include "script/budget.hpp"

namespace ostrel_core::script::charges {
namespace {

using budget::bytes_cost;
using budget::charge;
using budget::kCopyBytesPerUnit;
using budget::kPerComparison;
using budget::kPerElement;
using budget::kScanBytesPerUnit;

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
// Elements moved between two charges by the functions that charge as they go.
constexpr std::uint64_t kBatch = 256;

std::uint64_t mul(std::uint64_t a, std::uint64_t b) {
  return (a != 0 && b > kMax / a) ? kMax : a * b;
}
std::uint64_t sum(std::uint64_t a, std::uint64_t b) { return a > kMax - b ? kMax : a + b; }

// Calls the stock function (upvalue 1) on this call's own arguments and frame.
int stock(lua_State* L) { return lua_tocfunction(L, lua_upvalueindex(1))(L); }

// A 1-based position, possibly negative, as a position from 1; 0 and below stand for before
// the text.
std::int64_t from_start(lua_Integer pos, std::size_t len) {
  if (pos >= 0) return pos;
  if (static_cast<lua_Unsigned>(0) - static_cast<lua_Unsigned>(pos) > len) return 0;
  return static_cast<std::int64_t>(len) + pos + 1;
}

// How many positions i..j (each read as from_start) cover within a text of `len` bytes.
std::uint64_t span_of(lua_Integer i, lua_Integer j, std::size_t len) {
  const std::int64_t a = std::max<std::int64_t>(from_start(i, len), 1);
  const std::int64_t b = std::min<std::int64_t>(from_start(j, len), static_cast<std::int64_t>(len));
  return b < a ? 0 : static_cast<std::uint64_t>(b - a) + 1;
}

std::size_t text_length(lua_State* L, int arg) {
  std::size_t len = 0;
  luaL_checklstring(L, arg, &len);
  return len;
}

// ---- string ---------------------------------------------------------------------------------

int rep(lua_State* L) {
  const std::size_t l = text_length(L, 1);
  const lua_Integer n = luaL_checkinteger(L, 2);
  std::size_t lsep = 0;
  luaL_optlstring(L, 3, "", &lsep);
  if (n > 0) {
    const auto reps = static_cast<std::uint64_t>(n);
    const std::uint64_t bytes = sum(mul(reps, l), mul(reps - 1, lsep));
    charge(L, sum(mul(reps, kPerElement), bytes_cost(bytes, kCopyBytesPerUnit)));
  }
  return stock(L);
}

// The bytes i..j of the text (arguments 2 and 3; i defaults to 1, j to i or to the end) at
// `bytes_per_unit`, then the stock function.
int charge_range(lua_State* L, bool to_end, std::uint64_t bytes_per_unit) {
  const std::size_t l = text_length(L, 1);
  const lua_Integer i = luaL_optinteger(L, 2, 1);
  const lua_Integer j = luaL_optinteger(L, 3, to_end ? -1 : i);
  charge(L, 1 + bytes_cost(span_of(i, j, l), bytes_per_unit));
  return stock(L);
}

// string.byte and utf8.codepoint: the bytes i..j, j defaulting to i.
int byte(lua_State* L) { return charge_range(L, false, kScanBytesPerUnit); }

int char_(lua_State* L) {
  charge(L, 1 + bytes_cost(static_cast<std::uint64_t>(lua_gettop(L)), kScanBytesPerUnit));
  return stock(L);
}

int sub(lua_State* L) { return charge_range(L, true, kCopyBytesPerUnit); }

// upper, lower, reverse, and packsize (its format): every byte of the text.
int whole_text(lua_State* L) {
  charge(L, 1 + bytes_cost(text_length(L, 1), kScanBytesPerUnit));
  return stock(L);
}

// format and pack: the format and every text argument are copied or read once.
int formatted(lua_State* L) {
  std::uint64_t bytes = text_length(L, 1);
  const int top = lua_gettop(L);
  for (int i = 2; i <= top; ++i) {
    if (lua_type(L, i) == LUA_TSTRING) bytes = sum(bytes, lua_rawlen(L, i));
  }
  charge(L, sum(static_cast<std::uint64_t>(top), bytes_cost(bytes, kCopyBytesPerUnit)));
  return stock(L);
}

// unpack: the format now, the bytes it read once it has (what one call reads is bounded by
// the text).
int unpack_(lua_State* L) {
  charge(L, 1 + bytes_cost(text_length(L, 1), kScanBytesPerUnit));
  const lua_Integer from = luaL_optinteger(L, 3, 1);
  const int n = stock(L);
  if (n > 0 && lua_isinteger(L, -1)) {
    const lua_Integer next = lua_tointeger(L, -1);
    if (next > from) charge(L, bytes_cost(static_cast<std::uint64_t>(next - from), kScanBytesPerUnit));
  }
  return n;
}

// dump: the bytes it made.
int dump(lua_State* L) {
  const int n = stock(L);
  charge(L, 1 + bytes_cost(lua_rawlen(L, -1), kCopyBytesPerUnit));
  return n;
}

// ---- table --------------------------------------------------------------------------------------

// What a list argument must allow: a table, or a value whose metatable gives the operations.
enum Needs : int { kRead = 1, kWrite = 2, kLength = 4 };

void check_list(lua_State* L, int arg, int needs) {
  if (lua_type(L, arg) == LUA_TTABLE) return;
  int n = 1;
  if (lua_getmetatable(L, arg) != 0) {
    const auto has = [&](int need, const char* field) {
      if ((needs & need) == 0) return true;
      lua_pushstring(L, field);
      ++n;
      return lua_rawget(L, -n) != LUA_TNIL;
    };
    if (has(kRead, "__index") && has(kWrite, "__newindex") && has(kLength, "__len")) {
      lua_pop(L, n);
      return;
    }
    lua_pop(L, n);
  }
  luaL_checktype(L, arg, LUA_TTABLE);  // raises the usual "table expected"
}

// Counts elements as they move and charges them in batches.
class Mover {
 public:
  explicit Mover(lua_State* L) : L_(L) {}
  Mover(const Mover&) = delete;
  Mover& operator=(const Mover&) = delete;
  ~Mover() = default;

  void one(std::uint64_t bytes = 0) {
    units_ = sum(units_, sum(kPerElement, bytes / kCopyBytesPerUnit));
    if (++moved_ >= kBatch) settle();
  }
  void settle() {
    charge(L_, units_);
    units_ = 0;
    moved_ = 0;
  }

 private:
  lua_State* L_;
  std::uint64_t units_ = 1;  // the call itself
  std::uint64_t moved_ = 0;
};

int insert(lua_State* L) {
  check_list(L, 1, kRead | kWrite | kLength);
  const lua_Integer end = luaL_len(L, 1) + 1;  // the first empty position
  lua_Integer pos = end;
  Mover mover(L);
  switch (lua_gettop(L)) {
    case 2:
      break;
    case 3: {
      pos = luaL_checkinteger(L, 2);
      // pos in [1, end]
      luaL_argcheck(L, static_cast<lua_Unsigned>(pos) - 1u < static_cast<lua_Unsigned>(end), 2,
                    "position out of bounds");
      for (lua_Integer i = end; i > pos; --i) {  // shift up
        mover.one();
        lua_geti(L, 1, i - 1);
        lua_seti(L, 1, i);
      }
      break;
    }
    default:
      return luaL_error(L, "wrong number of arguments to 'insert'");
  }
  mover.settle();
  lua_seti(L, 1, pos);
  return 0;
}

int remove(lua_State* L) {
  check_list(L, 1, kRead | kWrite | kLength);
  const lua_Integer size = luaL_len(L, 1);
  lua_Integer pos = luaL_optinteger(L, 2, size);
  if (pos != size) {
    // pos in [1, size + 1]
    luaL_argcheck(L, static_cast<lua_Unsigned>(pos) - 1u <= static_cast<lua_Unsigned>(size), 2,
                  "position out of bounds");
  }
  Mover mover(L);
  lua_geti(L, 1, pos);  // the result
  for (; pos < size; ++pos) {  // shift down
    mover.one();
    lua_geti(L, 1, pos + 1);
    lua_seti(L, 1, pos);
  }
  mover.settle();
  lua_pushnil(L);
  lua_seti(L, 1, pos);
  return 1;
}

int concat(lua_State* L) {
  check_list(L, 1, kRead | kLength);
  lua_Integer last = luaL_len(L, 1);
  std::size_t lsep = 0;
  const char* sep = luaL_optlstring(L, 2, "", &lsep);
  lua_Integer i = luaL_optinteger(L, 3, 1);
  last = luaL_optinteger(L, 4, last);
  Mover mover(L);
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  const auto add = [&](lua_Integer at) {
    lua_geti(L, 1, at);
    if (lua_isstring(L, -1) == 0) {
      luaL_error(L, "invalid value (at index %I) in table for 'concat'",
                 static_cast<LUAI_UACINT>(at));
    }
    mover.one(lua_rawlen(L, -1) + lsep);
    luaL_addvalue(&b);
  };
  for (; i < last; ++i) {
    add(i);
    luaL_addlstring(&b, sep, lsep);
  }
  if (i == last) add(i);
  mover.settle();
  luaL_pushresult(&b);
  return 1;
}

int move(lua_State* L) {
  const lua_Integer f = luaL_checkinteger(L, 2);
  const lua_Integer e = luaL_checkinteger(L, 3);
  if (e >= f) {
    const auto n = static_cast<lua_Unsigned>(e) - static_cast<lua_Unsigned>(f) + 1u;
    charge(L, sum(1, mul(n == 0 ? kMax : n, kPerElement)));
  }
  return stock(L);
}

// unpack: bounded by the stack (a call cannot hand more than a million values), so the count is
// charged once it is known.
int unpack(lua_State* L) {
  const int n = stock(L);
  charge(L, sum(1, mul(static_cast<std::uint64_t>(n), kPerElement)));
  return n;
}

// table.pack and utf8.char: an element per argument, as bounded by the stack.
int per_argument(lua_State* L) {
  charge(L, sum(1, mul(static_cast<std::uint64_t>(lua_gettop(L)), kPerElement)));
  return stock(L);
}

// n * ceil(log2 n) comparisons, before the sort starts.
int sort(lua_State* L) {
  check_list(L, 1, kRead | kWrite | kLength);
  lua_Integer n = 0;
  if (lua_getmetatable(L, 1) == 0) {
    n = static_cast<lua_Integer>(lua_rawlen(L, 1));
  } else {
    lua_pop(L, 1);
    n = luaL_len(L, 1);
  }
  if (n > 1) {
    const auto count = static_cast<std::uint64_t>(n);
    std::uint64_t log2 = 0;
    while (log2 < 64 && (std::uint64_t{1} << log2) < count) ++log2;
    charge(L, sum(1, mul(mul(count, log2), kPerComparison)));
  }
  return stock(L);
}

// ---- utf8 ---------------------------------------------------------------------------------------

int utf8_len(lua_State* L) { return charge_range(L, true, kScanBytesPerUnit); }

// offset walks at most n characters of at most 4 bytes each.
int utf8_offset(lua_State* L) {
  const std::size_t l = text_length(L, 1);
  const lua_Integer n = luaL_checkinteger(L, 2);
  const std::uint64_t chars =
      n < 0 ? static_cast<lua_Unsigned>(0) - static_cast<lua_Unsigned>(n) : static_cast<lua_Unsigned>(n);
  const std::uint64_t bytes = std::min<std::uint64_t>(l, sum(mul(chars, 4), 4));
  charge(L, 1 + bytes_cost(bytes, kScanBytesPerUnit));
  return stock(L);
}

// ---- base -------------------------------------------------------------------------------------------

int tonumber(lua_State* L) {
  if (lua_type(L, 1) == LUA_TSTRING) charge(L, 1 + bytes_cost(lua_rawlen(L, 1), kScanBytesPerUnit));
  return stock(L);
}

// One library function replaced: `wrapped` keeps the stock function as the charging one's
// upvalue; otherwise the function is written here whole.
struct Replacement {
  const char* name;
  lua_CFunction fn;
  bool wrapped = true;
};

constexpr Replacement kString[] = {
    {"rep", rep},          {"byte", byte},          {"char", char_},       {"sub", sub},
    {"upper", whole_text}, {"lower", whole_text},   {"reverse", whole_text},
    {"format", formatted}, {"pack", formatted},     {"unpack", unpack_},
    {"packsize", whole_text},                       {"dump", dump},
};
constexpr Replacement kTable[] = {
    {"insert", insert, false}, {"remove", remove, false}, {"concat", concat, false},
    {"move", move},            {"unpack", unpack},        {"pack", per_argument},
    {"sort", sort},
};
constexpr Replacement kUtf8[] = {
    {"char", per_argument}, {"codepoint", byte}, {"len", utf8_len}, {"offset", utf8_offset},
};
constexpr Replacement kBase[] = {{"tonumber", tonumber}};

struct Library {
  const char* name;  // a global table, or null for the base library
  std::span<const Replacement> functions;
};
constexpr Library kLibraries[] = {
    {"string", kString}, {"table", kTable}, {"utf8", kUtf8}, {nullptr, kBase}};

}  // namespace

void install(lua_State* L) {
  for (const Library& lib : kLibraries) {
    if (lib.name != nullptr) {
      lua_getglobal(L, lib.name);
    } else {
      lua_pushglobaltable(L);
    }
    for (const Replacement& r : lib.functions) {
      if (r.wrapped) lua_getfield(L, -1, r.name);
      lua_pushcclosure(L, r.fn, r.wrapped ? 1 : 0);
      lua_setfield(L, -2, r.name);
    }
    lua_pop(L, 1);
  }
}

}  // namespace ostrel_core::script::charges
