#include "world/coords.hpp"

#include <fmt/format.h>

namespace ostrel_core::coords {

std::string debug_string(const ChunkPos& p) {
  return fmt::format("ChunkPos {{ x: {}, y: {}, z: {} }}", p.x, p.y, p.z);
}
std::string debug_string(const BlockPos& p) {
  return fmt::format("BlockPos {{ x: {}, y: {}, z: {} }}", p.x, p.y, p.z);
}
std::string debug_string(const SubNodePos& p) {
  return fmt::format("SubNodePos {{ x: {}, y: {}, z: {} }}", p.x, p.y, p.z);
}

}  // namespace ostrel_core::coords
