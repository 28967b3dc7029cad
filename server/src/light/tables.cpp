#include "light/tables.hpp"

#include <algorithm>

namespace ostrel_server::light {
namespace {

template <class T>
void put(std::vector<T>& table, MaterialId m, T value) {
  if (table.size() <= m) table.resize(std::size_t{m} + 1, T{});
  table[m] = value;
}

}  // namespace

Tables Tables::of(std::span<const ostrel_core::script::records::BlockRules> rules,
                  const ostrel_core::material::MaterialRegistry& materials) {
  Tables t;
  for (const auto& rule : rules) {
    const auto m = materials.id_of(rule.block);
    if (!m) continue;
    const auto channel = [&](std::size_t i) { return std::min<unsigned>(rule.light_emit[i], 15); };
    const auto e = static_cast<std::uint16_t>(channel(0) << 8 | channel(1) << 4 | channel(2));
    if (e != 0) put(t.emission, *m, e);
    if (rule.transparent || rule.cutout) put<std::uint8_t>(t.passes, *m, 1);
    if (rule.light_falloff != 0) put(t.falloff, *m, std::max(t.falloff_of(*m), rule.light_falloff));
  }
  t.any_emits = std::any_of(t.emission.begin(), t.emission.end(), [](auto v) { return v != 0; });
  t.any_passes = std::any_of(t.passes.begin(), t.passes.end(), [](auto v) { return v != 0; });
  t.any_falloff = std::any_of(t.falloff.begin(), t.falloff.end(), [](auto v) { return v != 0; });
  return t;
}

}  // namespace ostrel_server::light
