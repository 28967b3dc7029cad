// A backtracking matcher for Lua 5.4 patterns, written from the language's description of them:
//
//   item    a single character class, optionally followed by * (longest), + (one or more,
//           longest), - (shortest) or ? (optional); %1..%9 (the text a capture matched); %bxy
//           (a balanced run from x to y); %f[set] (the frontier where the previous character
//           is not in the set and the next one is; the string's ends count as "\0")
//   class   x (itself), . (any), %a %c %d %g %l %p %s %u %w %x (and %z, NUL) and their upper-case
//           complements, %x for a non-alphanumeric x (itself), [set] and [^set] with ranges a-z
//           and classes inside
//   pattern ^ at its start anchors it (not in gmatch); $ at its end anchors the end; ( )
//           captures, () captures the position
//
// Cost: every step (a character tested against a class, a position tried, a capture opened or
// closed) is one unit of the entry's budget, and every byte compared or copied a sixteenth;
// steps are charged in batches of kBatch, so a runaway match stops within that many steps
// after the budget runs out (what an error leaves uncharged is less than one batch).

#include "script/lua_vm/pattern.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include <fmt/format.h>
#include <lua.hpp>

#include "script/budget.hpp"

namespace ostrel_core::script::pattern {
namespace {

constexpr int kMaxCaptures = 32;     // as the stock matcher (LUA_MAXCAPTURES)
constexpr int kMaxDepth = 200;       // nesting of the recursive steps
constexpr std::uint32_t kBatch = 64;  // steps charged at a time
constexpr std::ptrdiff_t kOpen = -1;      // a capture not yet closed
constexpr std::ptrdiff_t kPosition = -2;  // a position capture
constexpr char kSpecials[] = "^$*+?.([%-";

[[noreturn]] void fail(lua_State* L, std::string_view text) {
  lua_pushlstring(L, text.data(), text.size());
  lua_error(L);
  std::abort();  // lua_error does not return
}

// The character classes of the C locale.
bool is_lower(unsigned char c) { return c >= 'a' && c <= 'z'; }
bool is_upper(unsigned char c) { return c >= 'A' && c <= 'Z'; }
bool is_alpha(unsigned char c) { return is_lower(c) || is_upper(c); }
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool is_alnum(unsigned char c) { return is_alpha(c) || is_digit(c); }
bool is_graph(unsigned char c) { return c > 32 && c < 127; }

// Whether `c` is in the class named by `cl` (the letter after %); any other `cl` stands for
// itself.
bool in_class(unsigned char c, unsigned char cl) {
  bool in = false;
  switch (cl | 0x20) {
    case 'a': in = is_alpha(c); break;
    case 'c': in = c < 32 || c == 127; break;
    case 'd': in = is_digit(c); break;
    case 'g': in = is_graph(c); break;
    case 'l': in = is_lower(c); break;
    case 'p': in = is_graph(c) && !is_alnum(c); break;
    case 's': in = c == ' ' || (c >= '\t' && c <= '\r'); break;
    case 'u': in = is_upper(c); break;
    case 'w': in = is_alnum(c); break;
    case 'x': in = is_digit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); break;
    case 'z': in = c == 0; break;  // the NUL byte, as Lua 5.1 had it
    default: return cl == c;
  }
  return is_upper(cl) ? !in : in;
}

class Matcher {
 public:
  Matcher(lua_State* L, const char* s, std::size_t ls, const char* p, std::size_t lp)
      : L_(L), src_init_(s), src_end_(s + ls), p_end_(p + lp) {}
  Matcher(const Matcher&) = delete;
  Matcher& operator=(const Matcher&) = delete;
  ~Matcher() = default;

  // Before each attempt at a new position.
  void reset() {
    level_ = 0;
    depth_ = kMaxDepth;
  }

  // The end of a match of `p` (to the pattern's end) starting at `s`, or null.
  const char* match(const char* s, const char* p) {
    if (depth_-- == 0) fail(L_, "pattern too complex");
    const char* out = match_here(s, p);
    ++depth_;
    return out;
  }

  // Pushes capture `i` of the match [s, e): the whole match when there are none and i is 0.
  void push_capture(int i, const char* s, const char* e) {
    if (i >= level_) {
      if (i != 0) fail(L_, fmt::format("invalid capture index %{}", i + 1));
      lua_pushlstring(L_, s, static_cast<std::size_t>(e - s));
      return;
    }
    const Capture& c = captures_[i];
    if (c.len == kOpen) fail(L_, "unfinished capture");
    if (c.len == kPosition) {
      lua_pushinteger(L_, static_cast<lua_Integer>(c.init - src_init_) + 1);
    } else {
      lua_pushlstring(L_, c.init, static_cast<std::size_t>(c.len));
    }
  }

  // Pushes every capture, or the whole match [s, e) when there are none (and `s` is not null);
  // answers how many values were pushed.
  int push_captures(const char* s, const char* e) {
    const int n = (level_ == 0 && s != nullptr) ? 1 : level_;
    luaL_checkstack(L_, n, "too many captures");
    for (int i = 0; i < n; ++i) push_capture(i, s, e);
    return n;
  }

  void step() {
    if (++steps_ >= kBatch) settle();
  }
  void bytes(std::size_t n) { byte_steps_ += n; }
  // Charges what was counted; raises the budget error when the entry's budget is spent.
  void settle() {
    const std::uint64_t units = steps_ + (byte_steps_ >> 4);
    steps_ = 0;
    byte_steps_ &= 15;
    if (units != 0) budget::charge(L_, units);
  }

  const char* src_init() const { return src_init_; }
  const char* src_end() const { return src_end_; }

 private:
  struct Capture {
    const char* init;
    std::ptrdiff_t len;
  };

  char at(const char* p) const { return p < p_end_ ? *p : '\0'; }

  // The end of the single class that starts at `p`.
  const char* class_end(const char* p) {
    const char c = *p++;
    if (c == '%') {
      if (p >= p_end_) fail(L_, "malformed pattern (ends with '%')");
      return p + 1;
    }
    if (c == '[') {
      if (at(p) == '^') ++p;
      do {  // the first character of the set is taken as it is, so []] holds ]
        if (p >= p_end_) fail(L_, "malformed pattern (missing ']')");
        const char d = *p++;
        if (d == '%' && p < p_end_) ++p;
      } while (at(p) != ']');
      return p + 1;
    }
    return p;
  }

  // `p` is the set's [; `ec` its closing ].
  bool in_set(unsigned char c, const char* p, const char* ec) {
    bool hit = true;
    ++p;
    if (*p == '^') {
      hit = false;
      ++p;
    }
    while (p < ec) {
      step();
      if (*p == '%') {
        ++p;
        if (in_class(c, static_cast<unsigned char>(*p))) return hit;
        ++p;
      } else if (p[1] == '-' && p + 2 < ec) {
        if (static_cast<unsigned char>(p[0]) <= c && c <= static_cast<unsigned char>(p[2])) {
          return hit;
        }
        p += 3;
      } else {
        if (static_cast<unsigned char>(*p) == c) return hit;
        ++p;
      }
    }
    return !hit;
  }

  // Whether the character at `s` matches the class [p, ep).
  bool single(const char* s, const char* p, const char* ep) {
    step();
    if (s >= src_end_) return false;
    const auto c = static_cast<unsigned char>(*s);
    switch (*p) {
      case '.': return true;
      case '%': return in_class(c, static_cast<unsigned char>(p[1]));
      case '[': return in_set(c, p, ep - 1);
      default: return static_cast<unsigned char>(*p) == c;
    }
  }

  const char* match_here(const char* s, const char* p) {
    while (true) {
      step();
      if (p == p_end_) return s;
      switch (*p) {
        case '(':
          if (at(p + 1) == ')') return open_capture(s, p + 2, kPosition);
          return open_capture(s, p + 1, kOpen);
        case ')':
          return close_capture(s, p + 1);
        case '$':
          if (p + 1 == p_end_) return s == src_end_ ? s : nullptr;
          break;  // a $ elsewhere is an ordinary character
        case '%':
          switch (at(p + 1)) {
            case 'b':
              s = balanced(s, p + 2);
              if (s == nullptr) return nullptr;
              p += 4;
              continue;
            case 'f': {
              p += 2;
              if (at(p) != '[') fail(L_, "missing '[' after '%f' in pattern");
              const char* ep = class_end(p);
              const auto prev = static_cast<unsigned char>(s == src_init_ ? '\0' : s[-1]);
              const auto next = static_cast<unsigned char>(s < src_end_ ? *s : '\0');
              if (in_set(prev, p, ep - 1) || !in_set(next, p, ep - 1)) return nullptr;
              p = ep;
              continue;
            }
            case '0': case '1': case '2': case '3': case '4':
            case '5': case '6': case '7': case '8': case '9':
              s = same_as_capture(s, at(p + 1));
              if (s == nullptr) return nullptr;
              p += 2;
              continue;
            default:
              break;
          }
          break;
        default:
          break;
      }
      // A single class with its quantifier.
      const char* ep = class_end(p);
      const char q = at(ep);
      if (!single(s, p, ep)) {
        if (q == '*' || q == '?' || q == '-') {  // may match nothing
          p = ep + 1;
          continue;
        }
        return nullptr;
      }
      switch (q) {
        case '?': {
          if (const char* r = match(s + 1, ep + 1)) return r;
          p = ep + 1;
          continue;
        }
        case '+':
          return longest(s + 1, p, ep);
        case '*':
          return longest(s, p, ep);
        case '-':
          return shortest(s, p, ep);
        default:
          ++s;
          p = ep;
          continue;
      }
    }
  }

  const char* longest(const char* s, const char* p, const char* ep) {
    std::ptrdiff_t i = 0;
    while (single(s + i, p, ep)) ++i;
    for (; i >= 0; --i) {  // the longest run first, giving back one at a time
      if (const char* r = match(s + i, ep + 1)) return r;
    }
    return nullptr;
  }

  const char* shortest(const char* s, const char* p, const char* ep) {
    while (true) {
      if (const char* r = match(s, ep + 1)) return r;
      if (!single(s, p, ep)) return nullptr;
      ++s;
    }
  }

  const char* open_capture(const char* s, const char* p, std::ptrdiff_t what) {
    if (level_ >= kMaxCaptures) fail(L_, "too many captures");
    captures_[level_] = {s, what};
    ++level_;
    const char* r = match(s, p);
    if (r == nullptr) --level_;
    return r;
  }

  const char* close_capture(const char* s, const char* p) {
    int l = level_ - 1;
    while (l >= 0 && captures_[l].len != kOpen) --l;
    if (l < 0) fail(L_, "invalid pattern capture");
    captures_[l].len = s - captures_[l].init;
    const char* r = match(s, p);
    if (r == nullptr) captures_[l].len = kOpen;
    return r;
  }

  const char* balanced(const char* s, const char* p) {
    if (p + 1 >= p_end_) fail(L_, "malformed pattern (missing arguments to '%b')");
    if (s >= src_end_ || *s != *p) return nullptr;
    const char open = p[0];
    const char close = p[1];
    int depth = 1;
    while (++s < src_end_) {
      step();
      if (*s == close) {
        if (--depth == 0) return s + 1;
      } else if (*s == open) {
        ++depth;
      }
    }
    return nullptr;
  }

  const char* same_as_capture(const char* s, char digit) {
    const int l = digit - '1';
    if (l < 0 || l >= level_ || captures_[l].len == kOpen) {
      fail(L_, fmt::format("invalid capture index %{} in pattern", l + 1));
    }
    const Capture& c = captures_[l];
    if (c.len == kPosition) return nullptr;  // a position holds no text to repeat
    const auto len = static_cast<std::size_t>(c.len);
    bytes(len);
    if (static_cast<std::size_t>(src_end_ - s) >= len && std::memcmp(c.init, s, len) == 0) {
      return s + len;
    }
    return nullptr;
  }

  lua_State* L_;
  const char* src_init_;
  const char* src_end_;
  const char* p_end_;
  int level_ = 0;
  int depth_ = kMaxDepth;
  std::uint32_t steps_ = 0;
  std::uint64_t byte_steps_ = 0;
  Capture captures_[kMaxCaptures]{};
};

// A 1-based, possibly negative start position as an offset into a text of `len` bytes.
std::size_t start_offset(lua_Integer pos, std::size_t len) {
  if (pos > 0) return static_cast<std::size_t>(pos) - 1;
  if (pos == 0) return 0;
  if (pos < -static_cast<lua_Integer>(len)) return 0;
  return len - static_cast<std::size_t>(-pos);
}

bool has_specials(const char* p, std::size_t lp) {
  for (std::size_t i = 0; i < lp; ++i) {
    if (p[i] != '\0' && std::strchr(kSpecials, p[i]) != nullptr) return true;
  }
  return false;
}

// A plain search for `p` in s[from, ls), charged per byte looked at.
const char* plain_find(lua_State* L, const char* s, std::size_t ls, std::size_t from,
                       const char* p, std::size_t lp) {
  std::uint64_t looked = 0;
  const char* found = nullptr;
  if (lp == 0) {
    found = s + from;
  } else if (lp <= ls - from) {
    const char* at = s + from;
    const char* last = s + ls - lp;  // the last place a match can start
    while (at <= last) {
      const auto* hit = static_cast<const char*>(
          std::memchr(at, p[0], static_cast<std::size_t>(last - at) + 1));
      looked += static_cast<std::uint64_t>((hit == nullptr ? last + 1 : hit + 1) - at);
      if (hit == nullptr) break;
      looked += lp;
      if (std::memcmp(hit + 1, p + 1, lp - 1) == 0) {
        found = hit;
        break;
      }
      at = hit + 1;
    }
  }
  budget::charge(L, 1 + (looked >> 4));
  return found;
}

int find_or_match(lua_State* L, bool find) {
  std::size_t ls = 0;
  std::size_t lp = 0;
  const char* s = luaL_checklstring(L, 1, &ls);
  const char* p = luaL_checklstring(L, 2, &lp);
  const std::size_t init = start_offset(luaL_optinteger(L, 3, 1), ls);
  if (init > ls) {
    luaL_pushfail(L);
    return 1;
  }
  if (find && (lua_toboolean(L, 4) != 0 || !has_specials(p, lp))) {
    if (const char* at = plain_find(L, s, ls, init, p, lp)) {
      lua_pushinteger(L, static_cast<lua_Integer>(at - s) + 1);
      lua_pushinteger(L, static_cast<lua_Integer>(at - s + static_cast<std::ptrdiff_t>(lp)));
      return 2;
    }
    luaL_pushfail(L);
    return 1;
  }
  const bool anchor = lp > 0 && *p == '^';
  if (anchor) {
    ++p;
    --lp;
  }
  Matcher m(L, s, ls, p, lp);
  const char* at = s + init;
  do {
    m.reset();
    if (const char* e = m.match(at, p)) {
      m.settle();
      if (find) {
        lua_pushinteger(L, static_cast<lua_Integer>(at - s) + 1);
        lua_pushinteger(L, static_cast<lua_Integer>(e - s));
        return m.push_captures(nullptr, nullptr) + 2;
      }
      return m.push_captures(at, e);
    }
  } while (at++ < m.src_end() && !anchor);
  m.settle();
  luaL_pushfail(L);
  return 1;
}

int str_find(lua_State* L) { return find_or_match(L, true); }
int str_match(lua_State* L) { return find_or_match(L, false); }

// The state of one gmatch iteration, in a userdata; the subject and the pattern are upvalues of
// the iterator, which keeps them alive.
struct Iteration {
  std::size_t next;       // offset where the next attempt starts
  std::ptrdiff_t last;    // end offset of the last match, -1 before the first
};

// Upvalues: 1 subject, 2 pattern, 3 the Iteration.
int gmatch_step(lua_State* L) {
  std::size_t ls = 0;
  std::size_t lp = 0;
  const char* s = lua_tolstring(L, lua_upvalueindex(1), &ls);
  const char* p = lua_tolstring(L, lua_upvalueindex(2), &lp);
  auto* it = static_cast<Iteration*>(lua_touserdata(L, lua_upvalueindex(3)));
  if (it->next > ls) return 0;
  Matcher m(L, s, ls, p, lp);
  for (const char* at = s + it->next; at <= m.src_end(); ++at) {
    m.reset();
    const char* e = m.match(at, p);
    if (e != nullptr && e - s != it->last) {
      it->next = static_cast<std::size_t>(e - s);
      it->last = e - s;
      m.settle();
      return m.push_captures(at, e);
    }
  }
  it->next = ls + 1;
  m.settle();
  return 0;
}

int str_gmatch(lua_State* L) {
  std::size_t ls = 0;
  luaL_checklstring(L, 1, &ls);
  luaL_checkstring(L, 2);
  std::size_t init = start_offset(luaL_optinteger(L, 3, 1), ls);
  if (init > ls) init = ls + 1;  // no match at all
  lua_settop(L, 2);
  auto* it = static_cast<Iteration*>(lua_newuserdatauv(L, sizeof(Iteration), 0));
  *it = {init, -1};
  lua_pushcclosure(L, gmatch_step, 3);
  return 1;
}

// Appends the replacement text `repl` for the match [s, e), with %0..%9 and %%.
void add_text(lua_State* L, Matcher& m, luaL_Buffer& b, const char* s, const char* e,
              const char* repl, std::size_t lr) {
  const char* end = repl + lr;
  m.bytes(lr);
  for (const char* r = repl; r < end; ++r) {
    if (*r != '%') {
      luaL_addchar(&b, *r);
      continue;
    }
    ++r;
    if (r < end && *r == '%') {
      luaL_addchar(&b, '%');
    } else if (r < end && is_digit(static_cast<unsigned char>(*r))) {
      if (*r == '0') {
        m.bytes(static_cast<std::size_t>(e - s));
        luaL_addlstring(&b, s, static_cast<std::size_t>(e - s));
      } else {
        m.push_capture(*r - '1', s, e);
        std::size_t len = 0;
        luaL_tolstring(L, -1, &len);  // a position capture becomes its number's text
        lua_remove(L, -2);
        m.bytes(len);
        luaL_addvalue(&b);
      }
    } else {
      fail(L, "invalid use of '%' in replacement string");
    }
  }
}

// Appends the replacement for the match [s, e); answers whether it differs from the match.
bool add_replacement(lua_State* L, Matcher& m, luaL_Buffer& b, const char* s, const char* e,
                     int repl_type) {
  switch (repl_type) {
    case LUA_TFUNCTION: {
      lua_pushvalue(L, 3);
      const int n = m.push_captures(s, e);
      m.settle();  // what the function costs is counted by the hook
      lua_call(L, n, 1);
      break;
    }
    case LUA_TTABLE:
      m.push_capture(0, s, e);
      lua_gettable(L, 3);
      break;
    default: {
      std::size_t lr = 0;
      const char* repl = lua_tolstring(L, 3, &lr);
      add_text(L, m, b, s, e, repl, lr);
      return true;
    }
  }
  if (lua_toboolean(L, -1) == 0) {  // nil or false: the match stays as it was
    lua_pop(L, 1);
    m.bytes(static_cast<std::size_t>(e - s));
    luaL_addlstring(&b, s, static_cast<std::size_t>(e - s));
    return false;
  }
  if (lua_isstring(L, -1) == 0) {
    fail(L, fmt::format("invalid replacement value (a {})", luaL_typename(L, -1)));
  }
  m.bytes(lua_rawlen(L, -1));
  luaL_addvalue(&b);
  return true;
}

int str_gsub(lua_State* L) {
  std::size_t ls = 0;
  std::size_t lp = 0;
  const char* src = luaL_checklstring(L, 1, &ls);
  const char* p = luaL_checklstring(L, 2, &lp);
  const int repl_type = lua_type(L, 3);
  const lua_Integer max = luaL_optinteger(L, 4, static_cast<lua_Integer>(ls) + 1);
  luaL_argexpected(L,
                   repl_type == LUA_TNUMBER || repl_type == LUA_TSTRING ||
                       repl_type == LUA_TFUNCTION || repl_type == LUA_TTABLE,
                   3, "string/function/table");
  const bool anchor = lp > 0 && *p == '^';
  if (anchor) {
    ++p;
    --lp;
  }
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  Matcher m(L, src, ls, p, lp);
  const char* last = nullptr;
  lua_Integer n = 0;
  bool changed = false;
  while (n < max) {
    m.reset();
    const char* e = m.match(src, p);
    if (e != nullptr && e != last) {
      ++n;
      changed = add_replacement(L, m, b, src, e, repl_type) || changed;
      src = last = e;
    } else if (src < m.src_end()) {
      m.bytes(1);
      luaL_addchar(&b, *src++);
    } else {
      break;
    }
    if (anchor) break;
  }
  m.settle();
  if (!changed) {
    lua_pushvalue(L, 1);  // the subject unchanged
  } else {
    const auto rest = static_cast<std::size_t>(m.src_end() - src);
    m.bytes(rest);
    luaL_addlstring(&b, src, rest);
    m.settle();
    luaL_pushresult(&b);
  }
  lua_pushinteger(L, n);
  return 2;
}

}  // namespace

void install(lua_State* L) {
  lua_getglobal(L, "string");
  const luaL_Reg fns[] = {{"find", str_find},
                          {"match", str_match},
                          {"gmatch", str_gmatch},
                          {"gsub", str_gsub},
                          {nullptr, nullptr}};
  luaL_setfuncs(L, fns, 0);
  lua_pop(L, 1);
}

}  // namespace ostrel_core::script::pattern
