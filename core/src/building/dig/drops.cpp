#include "building/dig/drops.hpp"

#include <algorithm>
#include <limits>

namespace ostrel_core::dig::drops {

std::vector<inventory::Stack> Yield::earn(MaterialId material, std::uint32_t units,
                                          const DropList* registered) {
  const DropList* list = drops ? &*drops : registered;
  if (!list) {
    if (material == 0 || units == 0) return {};
    return {inventory::Stack{.material = material, .units = units}};
  }
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
  std::map<MaterialId, std::uint64_t> earned;
  for (const auto& [m, per] : *list) {
    std::uint64_t t = std::uint64_t{units} * per + carry[m];
    carry[m] = static_cast<std::uint32_t>(t % inventory::UNITS_PER_BLOCK);
    std::uint64_t w = std::min(t / inventory::UNITS_PER_BLOCK, kMax);
    auto& sum = earned[m];
    sum = std::min(sum + w, kMax);
  }
  std::vector<inventory::Stack> out;
  for (const auto& [m, n] : earned) {
    if (m == 0 || n == 0) continue;
    out.push_back(inventory::Stack{.material = m, .units = static_cast<std::uint32_t>(n)});
  }
  return out;
}

}  // namespace ostrel_core::dig::drops
