#pragma once
// Per-material light tables, built once at start-up from the registered block rules and
// indexed by runtime MaterialId; an id past a table's end reads 0 or false.
//   emission   red << 8 | green << 4 | blue of the block's light_emit (sky always 0)
//   passes     the block is transparent or cutout: a whole block of it is open on every face
//   falloff    the block's light_falloff, the largest when several rules name one material
// The any_* flags let lighting skip per-block lookups in worlds without such materials.

#include <cstdint>
#include <span>
#include <vector>

#include "script/read/records.hpp"
#include "world/material.hpp"

namespace ostrel_server::light {

using ostrel_core::material::MaterialId;

struct Tables {
  std::vector<std::uint16_t> emission;
  std::vector<std::uint8_t> passes;   // 0 or 1
  std::vector<std::uint8_t> falloff;
  bool any_emits = false;
  bool any_passes = false;
  bool any_falloff = false;

  // Each rule's block is resolved through `materials` (an unknown name is skipped); a rule
  // writes only where it has something, growing the table with zeros up to its id.
  static Tables of(std::span<const ostrel_core::script::records::BlockRules> rules,
                   const ostrel_core::material::MaterialRegistry& materials);

  std::uint16_t emission_of(MaterialId m) const { return m < emission.size() ? emission[m] : 0; }
  bool passes_of(MaterialId m) const { return m < passes.size() && passes[m] != 0; }
  std::uint8_t falloff_of(MaterialId m) const { return m < falloff.size() ? falloff[m] : 0; }
};

}  // namespace ostrel_server::light
