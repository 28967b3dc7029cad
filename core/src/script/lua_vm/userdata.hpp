#pragma once
// C++ objects held by full userdata, for the script handles (density programs, maps, heightmaps,
// schematics, streams): one metatable per type, made on the first handle of that type in an
// engine, with the type's methods under __index, a finaliser that destroys the object, and a
// __metatable field so that no mod can read or replace the methods other mods' handles share.
//
// A handle's object is destroyed by its finaliser and never touched again: a resurrected handle
// (reached from another finaliser) reads as a value of no handle type.
//
// Native memory a handle keeps (a map's samples, a program's operations) is charged to its
// engine's memory limit for as long as the handle keeps it (NativeCharge), so that scripts cannot
// hold more than the limit through handles.
//
// REQUIRES for every function taking a lua_State: called on the engine's thread.

#include <cstddef>
#include <functional>
#include <new>
#include <span>
#include <string_view>
#include <utility>

struct lua_State;

namespace ostrel_core::script::budget {
struct Budget;
}

namespace ostrel_core::script::lua_vm::userdata {

struct Method {
  const char* name;
  int (*fn)(lua_State*);
};

// One handle type. `name` is also the type's name in conversion errors ("Ostrel.Map").
struct TypeInfo {
  const char* name;
  std::span<const Method> methods;  // registered in this order
  void (*destroy)(void* box);
  bool (*alive)(const void* box);
};

template <class T>
struct Box {
  T value;
  bool alive = true;
};

// Pushes a new userdata of `type` whose memory `construct` fills. May raise (memory).
void* push_raw(lua_State* L, const TypeInfo& type, std::size_t size,
               const std::function<void(void*)>& construct);
// The box at `idx` when it is a live userdata of `type`, else null.
void* test_raw(lua_State* L, int idx, const TypeInfo& type);

// The TypeInfo of T: a specialisation names it (see terrain.cpp).
template <class T>
const TypeInfo& type_of();

template <class T>
void destroy_box(void* p) {
  auto* box = static_cast<Box<T>*>(p);
  if (!box->alive) return;
  box->alive = false;
  box->value.~T();
}

template <class T>
bool box_alive(const void* p) {
  return static_cast<const Box<T>*>(p)->alive;
}

template <class T, class... A>
T& push(lua_State* L, A&&... args) {
  void* p = push_raw(L, type_of<T>(), sizeof(Box<T>),
                     [&](void* mem) { new (mem) Box<T>{T(std::forward<A>(args)...)}; });
  return static_cast<Box<T>*>(p)->value;
}

template <class T>
T* test(lua_State* L, int idx) {
  void* p = test_raw(L, idx, type_of<T>());
  return p == nullptr ? nullptr : &static_cast<Box<T>*>(p)->value;
}

// Argument 1 of a method as T, or the bad-argument error "bad argument #1 to '{method}'
// (expected {type}, got {kind})".
void* self_raw(lua_State* L, const TypeInfo& type, std::string_view method);
template <class T>
T& self(lua_State* L, std::string_view method) {
  return static_cast<Box<T>*>(self_raw(L, type_of<T>(), method))->value;
}

// Bytes of native memory charged to an engine's memory limit while this lives.
class NativeCharge {
 public:
  NativeCharge() = default;
  NativeCharge(NativeCharge&& o) noexcept
      : budget_(std::exchange(o.budget_, nullptr)), bytes_(std::exchange(o.bytes_, 0)) {}
  NativeCharge& operator=(NativeCharge&& o) noexcept;
  NativeCharge(const NativeCharge&) = delete;
  NativeCharge& operator=(const NativeCharge&) = delete;
  ~NativeCharge();

  // Charges `bytes` to the engine of L; raises "not enough memory" when they do not fit under
  // its limit. A state without the engine's allocator charges nothing.
  static NativeCharge take(lua_State* L, std::size_t bytes);

 private:
  budget::Budget* budget_ = nullptr;
  std::size_t bytes_ = 0;
};

}  // namespace ostrel_core::script::lua_vm::userdata
