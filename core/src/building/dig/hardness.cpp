#include "building/dig/hardness.hpp"

#include <cmath>

namespace ostrel_core::dig::hardness {
namespace {

float dominance_of(const Table& table, MaterialId material) {
  auto it = table.find(material);
  if (it == table.end()) return 1.0f;
  float d = it->second.dominance;
  return std::isfinite(d) && d > 0.0f ? d : 1.0f;
}

}  // namespace

float of_material(const Table& table, MaterialId material) {
  if (material == material::kAir) return 0.0f;
  auto it = table.find(material);
  if (it == table.end()) return kDefaultHardness;
  float h = it->second.hardness;
  return std::isfinite(h) && h > kLeastHardness ? h : kLeastHardness;
}

float of_cells(const Table& table, const block::Cells& cells) {
  float weights = 0.0f;
  float over = 0.0f;
  for (MaterialId m : cells) {
    if (m == material::kAir) continue;
    float d = dominance_of(table, m);
    weights += d;
    over += d / of_material(table, m);
  }
  return weights == 0.0f ? 0.0f : weights / over;
}

}  // namespace ostrel_core::dig::hardness
