#pragma once
// Weather and sky records sent to one player's client, and the sanitisers that clamp what mods
// give before a record leaves the script engine. Clamp of one float: a non-finite input takes
// the field's non-finite value; otherwise raise to the lower bound, then cap at the upper one
// (+inf gives the non-finite value, not the upper bound; -0.0 stays -0.0 above a bound of 0).
//
// Wire forms, fields in declaration order:
//   SkyModifier  7 x f32 (28 bytes), stars and light_floor as optional f32, ease_ticks varint
//   Precipitation  a Burst, rate and above (f32), ease_ticks varint
//   CloudLayer   base, thickness, cell (f32), detail (1 byte), frequency (f32), octaves
//                (1 byte), towers, drift x z, evolve, colour r g b, shade r g b (f32)
//   Clouds       cover, darkness, base (optional f32), ease_ticks, stratocumulus,
//                altocumulus, cumulonimbus
//   CloudMap     origin x z, cell (f32), size (1 byte), five byte layers (varint length + bytes)
//   Rainbow      intensity (f32), ease_ticks varint
//   Flash        intensity, colour r g b (16 bytes of f32), attack_ticks, decay_ticks varints

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "identity/identity.hpp"
#include "presentation/lightning.hpp"
#include "presentation/particle.hpp"

namespace ostrel_core::atmosphere {

using Vec3f = std::array<float, 3>;

inline constexpr std::uint32_t kMaxEaseTicks = 2400;
inline constexpr std::uint8_t kMaxCloudMapSize = 16;

struct SkyModifier {
  float intensity = 1.0f;             // 0..2
  Vec3f sky{};                        // r g b, each 0..2
  float sky_mix = 0.0f;               // 0..1; a mod giving `sky` defaults it to 1
  float fog_distance = 1.0f;          // 0.05..4
  float saturation = 1.0f;            // 0..4
  std::optional<float> stars;         // 0..1, replaces the keyframes' star brightness
  std::optional<float> light_floor;   // 0..1, the least the frame is lit at
  std::uint32_t ease_ticks = 0;       // at most 2400

  static constexpr auto fields() {
    return std::tuple{&SkyModifier::intensity,    &SkyModifier::sky,        &SkyModifier::sky_mix,
                      &SkyModifier::fog_distance, &SkyModifier::saturation, &SkyModifier::stars,
                      &SkyModifier::light_floor,  &SkyModifier::ease_ticks};
  }
  friend bool operator==(const SkyModifier&, const SkyModifier&) = default;
};

// Rain or snow in a box centred on the client's camera.
struct Precipitation {
  particle::Burst shape = default_shape();  // pos (0,0,0) and count 0
  float rate = 0.0f;                        // particles a second, 0..4000
  float above = 16.0f;                      // blocks above the camera, 0..64
  std::uint32_t ease_ticks = 0;

  static particle::Burst default_shape() {
    particle::Burst b;
    b.velocity = {0.0f, -16.0f, 0.0f};
    b.area = {16.0f, 3.0f, 16.0f};
    return b;
  }
  static constexpr auto fields() {
    return std::tuple{&Precipitation::shape, &Precipitation::rate, &Precipitation::above, &Precipitation::ease_ticks};
  }
  friend bool operator==(const Precipitation&, const Precipitation&) = default;
};

// The world's registered cloud deck.
struct CloudLayer {
  float base = 256.0f;                  // world y of the floor, -30000..30000
  float thickness = 64.0f;              // 0..1024
  float cell = 8.0f;                    // blocks per cube, 1..64
  std::uint8_t detail = 1;              // small cubes per edge, 1..4
  float frequency = 1.0f / 600.0f;      // cycles per block, above 0, at most 1
  std::uint8_t octaves = 1;             // 1..6
  float towers = 0.0f;                  // 0..1
  std::array<float, 2> drift{};         // x, z blocks a second, each -64..64
  float evolve = 0.0f;                  // -1..1
  Vec3f colour{1.0f, 1.0f, 1.0f};       // lit side, each 0..2
  Vec3f shade{0.5f, 0.5f, 0.5f};        // unlit side, each 0..2

  static constexpr auto fields() {
    return std::tuple{&CloudLayer::base,   &CloudLayer::thickness, &CloudLayer::cell,   &CloudLayer::detail,
                      &CloudLayer::frequency, &CloudLayer::octaves, &CloudLayer::towers, &CloudLayer::drift,
                      &CloudLayer::evolve, &CloudLayer::colour,    &CloudLayer::shade};
  }
  friend bool operator==(const CloudLayer&, const CloudLayer&) = default;
};

// How much cloud one player is under; shares 0..1.
struct Clouds {
  float cover = 0.0f;
  float darkness = 0.0f;
  std::optional<float> base;   // the deck's floor for this player; unclamped
  std::uint32_t ease_ticks = 0;
  float stratocumulus = 0.0f;
  float altocumulus = 0.0f;
  float cumulonimbus = 0.0f;

  static constexpr auto fields() {
    return std::tuple{&Clouds::cover,         &Clouds::darkness,    &Clouds::base,        &Clouds::ease_ticks,
                      &Clouds::stratocumulus, &Clouds::altocumulus, &Clouds::cumulonimbus};
  }
  friend bool operator==(const Clouds&, const Clouds&) = default;
};

// A coarse weather grid. Layers are shares as bytes (0 none, 255 all), row-major by z: the cell
// at column x, row z is byte z * size + x.
struct CloudMap {
  std::array<float, 2> origin{};  // world x, z of the grid's corner
  float cell = 0.0f;              // blocks a cell covers, above 0
  std::uint8_t size = 0;          // cells a side, 1..16
  std::vector<std::uint8_t> cover;          // size * size
  std::vector<std::uint8_t> darkness;       // size * size
  std::vector<std::uint8_t> stratocumulus;  // empty or size * size
  std::vector<std::uint8_t> altocumulus;
  std::vector<std::uint8_t> cumulonimbus;

  static constexpr auto fields() {
    return std::tuple{&CloudMap::origin,        &CloudMap::cell,        &CloudMap::size,
                      &CloudMap::cover,         &CloudMap::darkness,    &CloudMap::stratocumulus,
                      &CloudMap::altocumulus,   &CloudMap::cumulonimbus};
  }
  friend bool operator==(const CloudMap&, const CloudMap&) = default;
};

struct Rainbow {
  float intensity = 0.0f;         // 0..1
  std::uint32_t ease_ticks = 0;   // 0..2400

  static constexpr auto fields() { return std::tuple{&Rainbow::intensity, &Rainbow::ease_ticks}; }
  friend bool operator==(const Rainbow&, const Rainbow&) = default;
};

// A moment's light added to the sun and sky of the players in reach.
struct Flash {
  float intensity = 1.0f;                 // 0..4
  Vec3f colour{1.0f, 1.0f, 1.0f};         // each 0..2
  std::uint32_t attack_ticks = 1;         // at most 100
  std::uint32_t decay_ticks = 6;          // at most 400

  static constexpr auto fields() {
    return std::tuple{&Flash::intensity, &Flash::colour, &Flash::attack_ticks, &Flash::decay_ticks};
  }
  friend bool operator==(const Flash&, const Flash&) = default;
};

// What the script engine hands the atmosphere service for one flash; it never leaves the server.
struct FlashRequest {
  std::string domain = "overworld";
  Flash flash;
  std::array<double, 3> pos{};                  // world blocks
  float radius = 256.0f;                        // reach from pos, 0..1024
  std::optional<identity::PlayerUuid> player;   // when present, only this player may be told
};

[[nodiscard]] SkyModifier sanitise(SkyModifier m);
[[nodiscard]] Precipitation sanitise_precipitation(Precipitation p);
[[nodiscard]] CloudLayer sanitise_clouds(CloudLayer c);
[[nodiscard]] Clouds sanitise_cloud_state(Clouds c);
// None when the map is unusable: cell not above 0 or not finite, origin not finite, size 0, cover
// or darkness not size * size bytes, or a genus layer neither empty nor size * size (size capped
// at 16 first).
[[nodiscard]] std::optional<CloudMap> sanitise_cloud_map(CloudMap m);
[[nodiscard]] Flash sanitise_flash(Flash f);
// The flash as above, a non-finite pos coordinate 0, the radius 0..1024 (non-finite: 256).
[[nodiscard]] FlashRequest sanitise_flash_request(FlashRequest r);

// One cloud map value as a layer byte: 0 when not finite, else clamped to 0..1, then
// trunc(v * 255 + 0.5) in f32, at most 255 (0.5 -> 128, 1/255 -> 1).
[[nodiscard]] std::uint8_t cloud_share_byte(float v);
// A rainbow from a mod's numbers: intensity narrowed to f32, 0 when not finite, clamped 0..1;
// ease_ticks clamped 0..2400 as f64 (NaN gives 0) and truncated.
[[nodiscard]] Rainbow rainbow_of(double intensity, double ease_ticks);

// The service behind a script engine's atmosphere slot. A standing value (sky modifier,
// precipitation, rainbow, clouds, cloud map; absent means the plain sky) is kept for a player who
// is online and answers whether they were; a flash or a bolt answers how many players it was
// queued for. Values arrive sanitised.
class Access {
 public:
  virtual ~Access() = default;
  virtual bool set_sky_modifier(const identity::PlayerUuid& player, std::optional<SkyModifier> v) = 0;
  virtual std::uint32_t flash(const FlashRequest& request) = 0;
  virtual std::uint32_t lightning(const lightning::LightningRequest& request) = 0;
  virtual bool set_precipitation(const identity::PlayerUuid& player, std::optional<Precipitation> v) = 0;
  virtual bool set_rainbow(const identity::PlayerUuid& player, std::optional<Rainbow> v) = 0;
  virtual bool set_clouds(const identity::PlayerUuid& player, std::optional<Clouds> v) = 0;
  virtual bool set_cloud_map(const identity::PlayerUuid& player, std::optional<CloudMap> v) = 0;
};

}  // namespace ostrel_core::atmosphere
