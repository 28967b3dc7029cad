#pragma once
// What a dispatch hands back besides a HookOutcome (dispatch.cpp). The engine's own header: for
// the engine, the callers of run_owner_hook and tests.

#include <cstddef>
#include <optional>

#include "script/lua_vm/ref.hpp"
#include "script/vm.hpp"

namespace ostrel_core::script::lua_vm {

// A refusal text is cut to at most this many bytes, on a character boundary.
inline constexpr std::size_t kMaxRefusal = 512;

// What run_owner_hook() got from the one mod it asked.
struct OwnerAnswer {
  bool asked = false;                    // false: faulted owner, no handler, or no budget
  std::optional<LuaRef> answer;          // the handler's first result, when it returned
  std::optional<vm::ScriptError> fault;  // set when the handler failed
};

}  // namespace ostrel_core::script::lua_vm
