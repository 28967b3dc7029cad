#pragma once
// What a fluid is to the engine: the registry of fluids (`Fluids`), the record each registered
// fluid keeps (`Registered`) and the 16-bit per-block fluid state (`Fluid`).
//
// Fluid state word
//   BITS   DESCRIPTION
//   0-4    level: 1 to 27 cells of the block's 27 (27 = a full block)
//   5-8    fluid id, 1 to 15
//   9-15   always 0
// The word 0 is "no fluid". Example: 0x0025 is fluid 1 at level 5; 0x01FB (fluid 15, level 27)
// is the largest state. Any other non-zero word (level 0 or above 27, id 0, a bit above 8) is
// not a state a block can be in; it counts as dry and is never stored.

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/assert.hpp"
#include "base/error.hpp"
#include "world/material.hpp"

namespace ostrel_core::fluid {

// Position in the registry plus one: 1 to 15. 0 never names a fluid. Ids are per run; the world
// translates them to its own stored ids.
using FluidId = std::uint8_t;

// A fluid id is four bits of a state word.
inline constexpr std::size_t kMaxFluids = 15;
inline constexpr std::uint8_t kFullLevel = 27;

struct Fluid {
  std::uint16_t bits = 0;  // the state word above

  static constexpr std::uint16_t kLevelMask = 0x001F;
  static constexpr std::uint16_t kIdMask = 0x01E0;
  static constexpr std::uint16_t kIdShift = 5;

  // REQUIRES: 1 <= id <= 15 and 1 <= level <= 27.
  static constexpr Fluid of(FluidId id, std::uint8_t level) {
    OSTREL_ASSERT(id >= 1 && id <= 15 && level >= 1 && level <= 27);
    return Fluid{static_cast<std::uint16_t>((id << kIdShift) | level)};
  }

  constexpr std::uint8_t level() const { return static_cast<std::uint8_t>(bits & kLevelMask); }
  constexpr FluidId id() const { return static_cast<FluidId>((bits & kIdMask) >> kIdShift); }
  // A block holds fluid: level 1..=27, id 1..=15 and nothing above bit 8.
  constexpr bool is_wet() const {
    return (bits & ~(kLevelMask | kIdMask)) == 0 && id() != 0 && level() >= 1 && level() <= kFullLevel;
  }
  // 0 or a wet state: the words a layer may hold and a payload may carry.
  constexpr bool is_state() const { return bits == 0 || is_wet(); }

  friend constexpr bool operator==(Fluid, Fluid) = default;
};

// One registered fluid. The registration function fills every field (its defaults are the
// member initialisers); the registry stores it as given.
struct Registered {
  std::string name;                 // qualified id, "mod:fluid"
  std::uint32_t waterlogs_at = 14;  // cells of terrain (of 27) that hold this fluid up as floor
  std::uint32_t evaporates = 0;     // one in how many fluid ticks an open block loses a cell; 0 never
  float opacity = 0.72f;            // how much a surface of it hides, 0..1 (drawing only)
  material::MaterialId material = 0;  // material a full block of it is drawn as
  bool washes = true;               // sweeps away blocks that wash away
  std::uint8_t tick_rate = 1;       // fluid ticks between updates of a block of it
  std::uint8_t color_r = 255;       // tint seen from inside it
  std::uint8_t color_g = 255;
  std::uint8_t color_b = 255;
  std::uint8_t light_falloff = 0;   // light levels a block of it takes out of what reaches it

  friend bool operator==(const Registered&, const Registered&) = default;
};

enum class RegisterErrorKind : std::uint8_t {
  Duplicate,  // the name is registered already (checked first, also when the registry is full)
  Full,       // fifteen fluids are registered already
};

struct RegisterError {
  RegisterErrorKind kind;
  std::string name;  // the refused name

  std::string message() const;
  const ErrorSource* source() const { return nullptr; }
  // `Duplicate { name: "a:b" }`
  std::string debug() const;
  friend bool operator==(const RegisterError&, const RegisterError&) = default;
};

// The fluid registry. Filled once at start-up, then copied to every place that needs it; copies
// are independent.
class Fluids {
 public:
  // Appends `fluid` and answers its id. `register` itself is a keyword.
  std::expected<FluidId, RegisterError> register_fluid(Registered fluid);
  // Appends a stand-in for a fluid the world stored but no mod registers, so that stored fluid
  // keeps its id; it is drawn as air.
  std::expected<FluidId, RegisterError> register_placeholder(std::string_view name);

  std::optional<FluidId> id_of(std::string_view name) const;
  bool is_placeholder(FluidId id) const;
  // The record of `id`, or null for 0 and ids past the registry.
  const Registered* get(FluidId id) const;

  // Records in id order: record n has id n + 1.
  std::span<const Registered> registered() const { return registered_; }
  // Placeholder ids, ascending.
  std::span<const FluidId> placeholders() const { return placeholders_; }
  std::size_t size() const { return registered_.size(); }

 private:
  std::optional<RegisterError> refusal(std::string_view name) const;

  std::vector<Registered> registered_;  // at most kMaxFluids, names unique
  std::vector<FluidId> placeholders_;   // ascending; each names an entry
};

}  // namespace ostrel_core::fluid
