#include "fluid/rules.hpp"

#include <algorithm>

namespace ostrel_server::fluid {
namespace {

using ostrel_core::material::MaterialId;
using ostrel_core::material::MaterialRegistry;

template <class Pred>
std::vector<MaterialId> materials_where(std::span<const BlockRules> rules, const MaterialRegistry& materials,
                                        Pred pred) {
  std::vector<MaterialId> out;
  for (const auto& r : rules) {
    if (!pred(r)) continue;
    if (const auto m = materials.id_of(r.block)) out.push_back(*m);
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

}  // namespace

ostrel_core::fluid::solver::AbsorbTable absorb_table(std::span<const BlockRules> rules,
                                                     const MaterialRegistry& materials,
                                                     const ostrel_core::fluid::Fluids& fluids) {
  ostrel_core::fluid::solver::AbsorbTable table;
  for (const auto& r : rules) {
    if (r.absorbs.rate == 0) continue;
    const auto m = materials.id_of(r.block);
    if (!m) continue;
    ostrel_core::fluid::solver::AbsorbRule rule;
    rule.rate = r.absorbs.rate;
    if (r.absorbs.becomes) rule.becomes = materials.id_of(*r.absorbs.becomes);
    if (r.absorbs.fluid) rule.fluid = fluids.id_of(*r.absorbs.fluid).value_or(0);
    if (table.size() <= *m) table.resize(std::size_t{*m} + 1);
    table[*m] = rule;
  }
  return table;
}

std::vector<MaterialId> passable_materials(std::span<const BlockRules> rules, const MaterialRegistry& materials) {
  return materials_where(rules, materials, [](const BlockRules& r) { return r.passable; });
}

std::vector<MaterialId> washing_materials(std::span<const BlockRules> rules, const MaterialRegistry& materials) {
  return materials_where(rules, materials, [](const BlockRules& r) { return r.washes_away; });
}

}  // namespace ostrel_server::fluid
