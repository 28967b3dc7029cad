#pragma once
// The fluid stores' tables from the registered block rules, built once at start-up.

#include <span>
#include <vector>

#include "fluid/fluid.hpp"
#include "fluid/solver.hpp"
#include "script/read/records.hpp"
#include "world/material.hpp"

namespace ostrel_server::fluid {

using ostrel_core::script::records::BlockRules;

// One entry per material: a rule for each block whose absorb rate is not 0. `becomes` is its
// material (none when no block has that name); `fluid` its id, or 0, which no fluid has, for a
// name nobody registered, so such a rule absorbs nothing. Unknown block names are skipped.
ostrel_core::fluid::solver::AbsorbTable absorb_table(std::span<const BlockRules> rules,
                                                     const ostrel_core::material::MaterialRegistry& materials,
                                                     const ostrel_core::fluid::Fluids& fluids);
// The materials of the blocks registered `passable`, and those registered `washes_away`,
// ascending.
std::vector<ostrel_core::material::MaterialId> passable_materials(std::span<const BlockRules> rules,
                                                                  const ostrel_core::material::MaterialRegistry& materials);
std::vector<ostrel_core::material::MaterialId> washing_materials(std::span<const BlockRules> rules,
                                                                 const ostrel_core::material::MaterialRegistry& materials);

}  // namespace ostrel_server::fluid
