#include "script/lua_vm/ref.hpp"

#include <lua.hpp>

namespace ostrel_core::script::lua_vm {

LuaRef& LuaRef::operator=(LuaRef&& o) noexcept {
  if (this != &o) {
    if (L_ != nullptr) luaL_unref(L_, LUA_REGISTRYINDEX, ref_);
    L_ = std::exchange(o.L_, nullptr);
    ref_ = o.ref_;
  }
  return *this;
}

LuaRef::~LuaRef() {
  if (L_ != nullptr) luaL_unref(L_, LUA_REGISTRYINDEX, ref_);
}

void LuaRef::push(lua_State* L) const {
  if (L_ == nullptr) {
    lua_pushnil(L);
  } else {
    lua_rawgeti(L, LUA_REGISTRYINDEX, ref_);
  }
}

}  // namespace ostrel_core::script::lua_vm
