#pragma once
// LuaRef: one Lua value (an event table, a handler's answer) held in the registry of its engine
// (ref.cpp). The engine's own header: for the engine, the callers that hand it event tables,
// and tests.

#include <utility>

struct lua_State;

namespace ostrel_core::script::lua_vm {

// Valid while its engine lives; released when dropped.
class LuaRef {
 public:
  LuaRef() = default;
  LuaRef(lua_State* L, int ref) : L_(L), ref_(ref) {}
  LuaRef(LuaRef&& o) noexcept : L_(std::exchange(o.L_, nullptr)), ref_(o.ref_) {}
  LuaRef& operator=(LuaRef&& o) noexcept;
  LuaRef(const LuaRef&) = delete;
  LuaRef& operator=(const LuaRef&) = delete;
  ~LuaRef();

  // Pushes the value (nil for an empty reference). REQUIRES: on the engine's thread.
  void push(lua_State* L) const;
  bool empty() const { return L_ == nullptr; }

 private:
  lua_State* L_ = nullptr;
  int ref_ = 0;
};

}  // namespace ostrel_core::script::lua_vm
