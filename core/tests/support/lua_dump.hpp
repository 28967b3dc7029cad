#pragma once
// Lua values as text for the runtime function tests: `dump` prints tables as {key=value,...} in
// key order and sequences as [a,b,...], integers and floats apart (5 and 5.0).

#include <string>
#include <string_view>

#include "script/lua_vm/lua_vm.hpp"
#include "script/terrain_lua.hpp"

namespace ostrel_core::test {

// Defines the local function `dump` in the chunk it begins.
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

// Runs `expr` in mod `mod` and dumps every value it gives, joined by " | " ("error: ..." when it
// raises).
inline std::string dump_results(script::lua_vm::LuaVm& vm, std::string_view mod, std::string_view expr) {
  return run(
      vm, mod,
      std::string(kDump) + "local r = table.pack(" + std::string(expr) +
          ") local out = {} for i = 1, r.n do out[i] = dump(r[i]) end return table.concat(out, ' | ')");
}

}  // namespace ostrel_core::test
