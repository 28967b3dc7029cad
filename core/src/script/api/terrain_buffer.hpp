#pragma once
// The chunk buffer handle a generator writes its chunk through: a userdata of type
// "BufferHandle" with 14 methods (fill_all, fill_below_heightmap, fill_fluid_below, fill_density,
// fill_layers, fill_cover, fill_palette, scatter, fill_fluid_terraced, set_block, set_world,
// set_subnode_world, set_subnode, is_expanded). A generator cannot read the buffer back.
//
// The buffer leaves its handle when the chunk's generators have run; a handle kept past that
// refuses every method with kHandedOn.
//
// A material that nothing registered (neither air nor a number the block and item counter handed
// out) is refused by every method that writes one, before any write, with
// "{method}: material {} is not registered": the world's id map could not store it.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "detgen/buffer/chunk_buffer.hpp"
#include "script/lua_vm/userdata.hpp"

struct lua_State;

namespace ostrel_core::script::lua_vm {

inline constexpr const char* kHandedOn =
    "this chunk buffer was handed on; keep no buffer past your generator";

// What a handle needs from the registry: the same for every chunk while registration is closed,
// so one engine shares one copy between its handles.
struct BufferRules {
  std::vector<std::uint16_t> passable;                         // sorted ascending
  std::map<std::string, std::uint8_t, std::less<>> fluid_ids;  // full fluid id -> fluid id
  std::map<std::uint16_t, std::uint32_t> whole_shapes;         // shaped materials and their cells
  std::uint32_t next_material = 2;  // materials 2 up to this, exclusive, are registered

  bool registered(std::uint16_t m) const { return m == 0 || (m >= 2 && m < next_material); }
};

struct BufferHandle {
  detgen::buffer::ChunkBuffer buffer;
  std::shared_ptr<const BufferRules> rules = std::make_shared<const BufferRules>();  // never null
  std::uint64_t seed = 0;  // the world seed
  bool handed_on = false;  // the buffer was taken when its generators ended; every call refuses

  bool registered(std::uint16_t m) const { return rules->registered(m); }
  // One block through the shaped write: a shaped material as its cells in otherwise empty
  // cells, any other whole. REQUIRES: local coordinates.
  void write_block(std::uint32_t x, std::uint32_t y, std::uint32_t z, std::uint16_t m);
};

namespace userdata {
template <>
const TypeInfo& type_of<BufferHandle>();
}  // namespace userdata

// Pushes a new handle owning `h`. May raise (memory).
BufferHandle& push_buffer_handle(lua_State* L, BufferHandle h);

}  // namespace ostrel_core::script::lua_vm
