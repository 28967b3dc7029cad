#pragma once
// What the per-chunk script calls share (generate.cpp): the position table, the seeding of
// `math.random`, and the mark that makes maps read-only while a chunk is worked on. The engine's
// own header: not for use outside core/src/script.

#include <cstdint>
#include <string_view>

#include "world/coords.hpp"

struct lua_State;

namespace ostrel_core::script::lua_vm {

// The registry flag that is true while a chunk generates or its tint or fog is asked.
inline constexpr const char* kGeneratingFlag = "ostrel.generating";
inline constexpr std::string_view kMapsReadOnly =
    "maps are read-only while a chunk generates; change them in on_world_init";

// Raises kMapsReadOnly while the flag is set. For the functions that change or create maps.
void refuse_map_change_while_generating(lua_State* L);

// Sets the flag for its life. REQUIRES: the engine's lock is held.
class ChunkCall {
 public:
  explicit ChunkCall(lua_State* L);
  ChunkCall(const ChunkCall&) = delete;
  ChunkCall& operator=(const ChunkCall&) = delete;
  ~ChunkCall();

 private:
  lua_State* L_;
};

// Pushes a new position table { x, y, z, seed, domain }; the seed's 64 bits as a signed integer.
// May raise (memory).
void push_position(lua_State* L, std::string_view domain, std::uint64_t seed, coords::ChunkPos pos);

// Seeds the state's `math.random` from the world seed, the chunk position and the mod id, so that
// each mod draws the same numbers for a chunk in every engine. May raise (memory).
void seed_random(lua_State* L, std::uint64_t seed, coords::ChunkPos pos, std::string_view mod_id);

}  // namespace ostrel_core::script::lua_vm
