#include "building/dig/dig.hpp"

#include <algorithm>
#include <cmath>

#include "base/num.hpp"

namespace ostrel_core::dig {

std::uint32_t ticks_needed(float time, float speed) {
  const float q = time * kTicksPerSecond / speed;
  if (!std::isfinite(q)) return kMaxTicks;
  if (q <= 1.0f) return 1;
  return std::min(num::saturate<std::uint32_t>(std::ceil(q)), kMaxTicks);
}

std::uint32_t Dig::advance(std::uint32_t count, float time, float speed) {
  if (count == 0) {
    ticks_needed = dig::ticks_needed(time, speed);
    return 0;
  }
  if (cells == 0) cells = count;
  if (brush == kBrushBlock) time = time * static_cast<float>(cells) / 27.0f;
  ticks_needed = dig::ticks_needed(time, speed);
  if (removed >= cells) return 0;
  if (elapsed < ticks_needed) ++elapsed;
  const std::uint32_t due = elapsed < ticks_needed
                                ? static_cast<std::uint32_t>(std::uint64_t{cells} * elapsed / ticks_needed)
                                : cells;
  const std::uint32_t n = due > removed ? std::min(due - removed, cells - removed) : 0;
  removed += n;
  return n;
}

bool Dig::retarget(coords::SubNodePos to, std::uint8_t to_brush) {
  if (to == target && to_brush == brush) return false;
  if (brush == kBrushWhole && to.block() == target.block()) return false;
  const bool discarded = elapsed != 0;
  target = to;
  brush = to_brush;
  elapsed = 0;
  removed = 0;
  cells = 0;
  return discarded;
}

float Dig::progress() const {
  if (elapsed >= ticks_needed) return 1.0f;
  return std::min(1.0f, static_cast<float>(elapsed) / static_cast<float>(ticks_needed));
}

}  // namespace ostrel_core::dig
