#pragma once
// Sound plays, loops and the world clock as the script engine hands them to the server, and the
// sound service behind the engine's sound slot.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "identity/identity.hpp"

namespace ostrel_core::sound {

inline constexpr float kMaxRadius = 512.0f;
inline constexpr float kMaxGain = 8.0f;
inline constexpr std::uint32_t kMaxFadeTicks = 1200;

// One sound play: addressed to a position and reach, optionally to one player.
struct PlayRequest {
  std::string sound;                           // qualified sound id
  std::string domain = "overworld";            // only players in this domain are told
  std::array<double, 3> pos{};                 // world blocks
  float radius = 16.0f;                        // blocks, 0..512
  float gain = 1.0f;                           // 0..8
  std::optional<std::uint64_t> entity;         // followed on the client
  std::optional<identity::PlayerUuid> player;  // when present, only this player may be told
};

// One loop to start; clients know it by `id`.
struct LoopRequest {
  std::string id;
  std::string sound;
  std::string domain = "overworld";  // a positioned loop tells only players in this domain
  std::array<double, 3> pos{};
  float radius = 16.0f;
  float gain = 1.0f;
  std::uint32_t fade_ticks = 0;  // at most 1200
  bool everywhere = false;       // no position: full gain wherever the player stands
  std::optional<identity::PlayerUuid> player;
};

struct StopRequest {
  std::string id;
  std::uint32_t fade_ticks = 0;  // at most 1200; 0 leaves the fade to the client
  std::optional<identity::PlayerUuid> player;
};

// Non-finite coordinates become 0; radius and gain: non-finite gives 16 and 1, then raised to 0
// (-0.0 stays) and capped at 512 and 8.
[[nodiscard]] PlayRequest sanitise(PlayRequest r);
// As sanitise, and fade_ticks capped at 1200.
[[nodiscard]] LoopRequest sanitise_loop(LoopRequest r);

// The sound service. Counts are of the players the message was queued for.
class Access {
 public:
  virtual ~Access() = default;
  virtual std::uint32_t play(const PlayRequest& request) = 0;
  virtual std::uint32_t start_loop(const LoopRequest& request) = 0;
  // The day fraction, 0 midnight to 1; 0 in a world without a day.
  virtual float time_of_day() = 0;
  // Wraps `t` into the day and tells every player; false (nothing changes) for a non-finite `t`
  // or a world without a day.
  virtual bool set_time_of_day(float t) = 0;
  virtual std::uint32_t stop_loop(const StopRequest& request) = 0;
};

}  // namespace ostrel_core::sound
