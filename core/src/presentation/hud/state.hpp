#pragma once
// One HUD value as a mod's HUD script receives it. Wire form: variant index, then an f64 (8 bytes
// little-endian), a text, or one byte 0/1.

#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <variant>

#include "identity/identity.hpp"

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

inline constexpr std::size_t kMaxValues = 32;
inline constexpr std::size_t kMaxNameBytes = 32;
inline constexpr std::size_t kMaxTextBytes = 64;
inline constexpr std::size_t kMaxChatBytes = 512;

// One mod's values for one player, by name in byte order.
using ValueSet = std::map<std::string, Value>;

// The HUD service behind the engine's HUD slot.
class Access {
 public:
  virtual ~Access() = default;
  // Replaces the mod's set for the player; whether the player was online.
  virtual bool set_hud(std::string_view mod_id, const identity::PlayerUuid& player, ValueSet values) = 0;
  // Whether the id is on the operator list, online or not.
  virtual bool is_operator(const identity::PlayerUuid& player) = 0;
  // Whether the line was queued for the player (online, and the player's lines not full).
  virtual bool chat_to(const identity::PlayerUuid& player, std::string line) = 0;
};

}  // namespace ostrel_core::hud::state
