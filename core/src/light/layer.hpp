#pragma once
// LightLayer: the light of one chunk, one value for every block or 4096 values (index
// x + 16y + 256z).
//
// Light value: a u16 of four 4-bit levels.
//   BITS    LEVEL
//   12-15   sky light (15 = open sky; clients scale it by the time of day)
//   8-11    red
//   4-7     green
//   0-3     blue
// Example: 0xF000 is open sky with no block light; 0x0F00 is full red block light.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/assert.hpp"

namespace ostrel_core::light::layer {

inline constexpr std::size_t kBlocks = 4096;

class LightLayer {
 public:
  // A uniform layer of darkness.
  LightLayer() = default;
  static LightLayer uniform(std::uint16_t value);

  bool is_uniform() const { return values_.empty(); }
  // The value every block has. REQUIRES: is_uniform().
  std::uint16_t uniform_value() const {
    OSTREL_ASSERT(is_uniform());
    return uniform_;
  }
  // The 4096 values of a full layer, or an empty span for a uniform one. Valid until the next
  // set() that turns a uniform layer full.
  std::span<const std::uint16_t> values() const { return values_; }

  // REQUIRES: each coordinate 0..=15.
  std::uint16_t get(int x, int y, int z) const;
  // Writing the value a uniform layer already has allocates nothing; any other value makes the
  // layer full. A full layer stays full even when all its values become equal.
  // REQUIRES: each coordinate 0..=15.
  void set(int x, int y, int z, std::uint16_t value);

  // By local index x + 16y + 256z, for the relight loops. REQUIRES: index < 4096.
  std::uint16_t at(std::uint16_t index) const { return values_.empty() ? uniform_ : values_[index & 4095]; }
  void set_at(std::uint16_t index, std::uint16_t value) {
    if (values_.empty()) {
      if (value == uniform_) return;
      values_.assign(kBlocks, uniform_);
    }
    values_[index & 4095] = value;
  }

  // Equal in form and values: a uniform layer never equals a full one.
  friend bool operator==(const LightLayer& a, const LightLayer& b) {
    if (a.is_uniform() != b.is_uniform()) return false;
    return a.is_uniform() ? a.uniform_ == b.uniform_ : a.values_ == b.values_;
  }

 private:
  std::uint16_t uniform_ = 0;          // the value of every block while values_ is empty;
                                       // meaningless once full
  std::vector<std::uint16_t> values_;  // empty (uniform) or exactly kBlocks values
};

}  // namespace ostrel_core::light::layer
