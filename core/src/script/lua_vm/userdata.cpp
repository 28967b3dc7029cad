#include "script/lua_vm/userdata.hpp"

#include <fmt/format.h>

#include <lua.hpp>

#include "script/budget.hpp"
#include "script/lua_vm/convert.hpp"

namespace ostrel_core::script::lua_vm::userdata {
namespace {

// The finaliser: upvalue 1 is the type's TypeInfo.
int collect(lua_State* L) {
  const auto* type = static_cast<const TypeInfo*>(lua_touserdata(L, lua_upvalueindex(1)));
  if (void* p = lua_touserdata(L, 1)) type->destroy(p);
  return 0;
}

// Pushes the type's metatable, making it on first use.
void push_metatable(lua_State* L, const TypeInfo& type) {
  if (luaL_newmetatable(L, type.name) == 0) return;
  lua_createtable(L, 0, static_cast<int>(type.methods.size()));
  for (const Method& m : type.methods) {
    lua_pushcfunction(L, m.fn);
    lua_setfield(L, -2, m.name);
  }
  lua_setfield(L, -2, "__index");
  lua_pushlightuserdata(L, const_cast<TypeInfo*>(&type));
  lua_pushcclosure(L, collect, 1);
  lua_setfield(L, -2, "__gc");
  lua_pushstring(L, type.name);
  lua_setfield(L, -2, "__metatable");
}

}  // namespace

void* push_raw(lua_State* L, const TypeInfo& type, std::size_t size,
               const std::function<void(void*)>& construct) {
  // The metatable first, then the memory: once the object is built nothing may fail before its
  // finaliser is attached.
  push_metatable(L, type);
  void* mem = lua_newuserdatauv(L, size, 0);
  construct(mem);
  lua_pushvalue(L, -2);
  lua_setmetatable(L, -2);
  lua_remove(L, -2);
  return mem;
}

void* test_raw(lua_State* L, int idx, const TypeInfo& type) {
  void* p = luaL_testudata(L, idx, type.name);
  return p != nullptr && type.alive(p) ? p : nullptr;
}

void* self_raw(lua_State* L, const TypeInfo& type, std::string_view method) {
  void* p = test_raw(L, 1, type);
  if (p == nullptr) convert::arg_error(L, 1, method, convert::mismatch(L, 1, type.name).text);
  return p;
}

NativeCharge& NativeCharge::operator=(NativeCharge&& o) noexcept {
  if (this != &o) {
    this->~NativeCharge();
    budget_ = std::exchange(o.budget_, nullptr);
    bytes_ = std::exchange(o.bytes_, 0);
  }
  return *this;
}

NativeCharge::~NativeCharge() {
  if (budget_ != nullptr) budget_->used -= bytes_;
}

NativeCharge NativeCharge::take(lua_State* L, std::size_t bytes) {
  void* ud = nullptr;
  if (lua_getallocf(L, &ud) != &budget::limited_alloc || ud == nullptr) return {};
  auto* b = static_cast<budget::Budget*>(ud);
  if (bytes > b->memory_limit || b->used > b->memory_limit - bytes) convert::raise(L, budget::kMemoryMarker);
  b->used += bytes;
  NativeCharge c;
  c.budget_ = b;
  c.bytes_ = bytes;
  return c;
}

}  // namespace ostrel_core::script::lua_vm::userdata
