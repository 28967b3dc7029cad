#pragma once
// Evaluating an expression in a loaded mod and printing its value, for the runtime function
// tests: tables as {key=value,...} in key order, sequences as [a,b,...], integers and floats
// apart (5 and 5.0), "error: <text>" when it raises.

#include <string>
#include <string_view>

#include "script/lua_vm/lua_vm.hpp"
#include "script/terrain_lua.hpp"

namespace ostrel_core::test {

inline constexpr std::string_view kDump = R"(
local function dump(v)
  if type(v) ~= "table" then return tostring(v) end
  local out = {}
  if #v > 0 then
    for _, x in ipairs(v) do out[#out + 1] = dump(x) end
    return "[" .. table.concat(out, ",") .. "]"
  end
  local keys = {}
  for k in pairs(v) do keys[#keys + 1] = k end
  table.sort(keys, function(a, b) return tostring(a) < tostring(b) end)
  for _, k in ipairs(keys) do out[#out + 1] = tostring(k) .. "=" .. dump(v[k]) end
  return "{" .. table.concat(out, ",") .. "}"
end
)";

// Runs `expr` in mod `m` and dumps its value. `expr` may be a list ("a, b"): each value is
// dumped, joined by a space.
inline std::string eval(script::lua_vm::LuaVm& vm, std::string_view expr, std::string_view mod = "m") {
  return run(vm, mod,
             std::string(kDump) + "local t = table.pack(" + std::string(expr) +
                 ") local out = {} for i = 1, t.n do out[i] = dump(t[i]) end return table.concat(out, ' ')");
}

}  // namespace ostrel_core::test
