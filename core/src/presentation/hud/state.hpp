#pragma once
// One HUD value as a mod's HUD script receives it. Wire form: variant index, then an f64 (8 bytes
// little-endian), a text, or one byte 0/1.

#include <string>
#include <tuple>
#include <variant>

namespace ostrel_core::hud::state {

struct Number {
  double value = 0.0;  // always finite
  static constexpr auto fields() { return std::tuple{&Number::value}; }
  friend bool operator==(const Number&, const Number&) = default;
};
struct Text {
  std::string value;  // at most 64 bytes
  static constexpr auto fields() { return std::tuple{&Text::value}; }
  friend bool operator==(const Text&, const Text&) = default;
};
struct Bool {
  bool value = false;
  static constexpr auto fields() { return std::tuple{&Bool::value}; }
  friend bool operator==(const Bool&, const Bool&) = default;
};

using Value = std::variant<Number, Text, Bool>;

}  // namespace ostrel_core::hud::state
