#pragma once
// SkyBook: the registered skies in wire form, built once at start-up and read without locking,
// and the SkyTable a player receives on entering a domain.
//
// Lookup of a domain's sky: the sky under exactly its name; else, for a name holding "/", the
// sky under the part before the first "/" (an instance finds its template's); else the sky
// registered without a domain; else none. Names compare as bytes.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "proto/records/sky.hpp"
#include "proto/server.hpp"
#include "script/api/media.hpp"
#include "world/domain.hpp"

namespace ostrel_server::skies {

// The cave fog of a table whose domain has no sky at all.
inline constexpr std::array<float, 3> kNoSkyFog{0.05f, 0.05f, 0.06f};

// One sky as clients receive it.
struct SkyWire {
  std::vector<ostrel_core::proto::SkyFrame> keyframes;  // in the registered order
  std::array<float, 3> cave_fog{};                      // r, g, b of enclosed spaces
  friend bool operator==(const SkyWire&, const SkyWire&) = default;
};

class SkyBook {
 public:
  SkyBook() = default;

  // From the registered skies in the order the content readers hand them over. A later sky of
  // the same domain (or a later one without a domain) replaces an earlier one. The day length
  // is that of the sky without a domain when there is one, else of the first sky whose day
  // length is not 0.
  static SkyBook from_registered(std::span<const ostrel_core::script::media::Sky> skies);

  // The sky to use for `domain`, by the lookup above. Valid as long as the book.
  const SkyWire* wire_for(std::string_view domain) const;

  // The SkyTable for `domain` at `position`: with a run-time sky, its keyframes and fog; else the
  // looked-up sky's; else no keyframes, day length 0 and the fog kNoSkyFog. A table with a sky
  // carries the book's day length.
  ostrel_core::proto::server::SkyTable table_for_with(
      std::string_view domain, const std::array<std::int64_t, 3>& position,
      const std::optional<ostrel_core::domain::DomainSky>& runtime) const;

  const std::optional<SkyWire>& default_sky() const { return default_; }
  const std::map<std::string, SkyWire, std::less<>>& by_domain() const { return by_domain_; }
  std::uint32_t day_length_ticks() const { return day_length_ticks_; }

 private:
  std::optional<SkyWire> default_;                         // registered without a domain
  std::map<std::string, SkyWire, std::less<>> by_domain_;  // registered for a named domain
  std::uint32_t day_length_ticks_ = 0;                     // sent with every registered sky
};

}  // namespace ostrel_server::skies
