#pragma once
// Evaluating an expression in a loaded mod and printing its values with `dump`
// (support/lua_dump.hpp), "error: <text>" when it raises.

#include <string>
#include <string_view>

#include "script/lua_vm/lua_vm.hpp"
#include "script/terrain_lua.hpp"
#include "support/lua_dump.hpp"

namespace ostrel_core::test {


// Runs `expr` in mod `m` and dumps its value. `expr` may be a list ("a, b"): each value is
// dumped, joined by a space.
inline std::string eval(script::lua_vm::LuaVm& vm, std::string_view expr, std::string_view mod = "m") {
  return run(vm, mod,
             std::string(kDump) + "local t = table.pack(" + std::string(expr) +
                 ") local out = {} for i = 1, t.n do out[i] = dump(t[i]) end return table.concat(out, ' ')");
}

}  // namespace ostrel_core::test
