#pragma once
// One line of Lua each, every one a library call (or a loop of them) whose native work runs for
// minutes or for ever unless it is charged to the budget: each must end with the budget's text,
// in init.lua and in an on_tick handler alike.

namespace ostrel_core::test {

struct Runaway {
  const char* name;
  const char* code;
};

inline constexpr Runaway kRunaways[] = {
    {"rep_of_nothing", R"(local s = string.rep("", math.maxinteger))"},
    {"rep_of_a_terabyte", R"(local s = string.rep("x", 2^40))"},
    {"move_of_nils", R"(table.move({}, 1, 3e9, 1, {}))"},
    // Built in two steps so that the 100 MiB text fits the budget and utf8.len is what stops.
    {"utf8_len_loop",
     R"(local s = ("x"):rep(1024 * 1024):rep(100) while true do utf8.len(s) end)"},
    {"sort_loop",
     R"(local t = {} for i = 1, 2000000 do t[i] = i end while true do table.sort(t) end)"},
    {"collect_loop",
     R"(local t = {} for i = 1, 1500000 do t[i] = {} end while true do collectgarbage() end)"},
    {"backtracking_find", R"(string.find(("a"):rep(40), ("a?"):rep(40) .. ("a"):rep(40)))"},
};

}  // namespace ostrel_core::test
