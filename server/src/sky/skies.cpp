#include "sky/skies.hpp"

#include <utility>

namespace ostrel_server::skies {

namespace media = ostrel_core::script::media;
namespace proto = ostrel_core::proto;

SkyBook SkyBook::from_registered(std::span<const media::Sky> skies) {
  SkyBook book;
  for (const media::Sky& sky : skies) {
    SkyWire wire;
    wire.keyframes.reserve(sky.keyframes.size());
    for (const auto& k : sky.keyframes) wire.keyframes.push_back(media::sky_frame(k));
    wire.cave_fog = sky.cave_fog;
    if (!sky.domain || book.day_length_ticks_ == 0) book.day_length_ticks_ = sky.day_length_ticks;
    if (sky.domain) {
      book.by_domain_.insert_or_assign(*sky.domain, std::move(wire));
    } else {
      book.default_ = std::move(wire);
    }
  }
  return book;
}

const SkyWire* SkyBook::wire_for(std::string_view domain) const {
  if (auto it = by_domain_.find(domain); it != by_domain_.end()) return &it->second;
  if (const auto slash = domain.find('/'); slash != std::string_view::npos) {
    if (auto it = by_domain_.find(domain.substr(0, slash)); it != by_domain_.end()) return &it->second;
  }
  return default_ ? &*default_ : nullptr;
}

proto::server::SkyTable SkyBook::table_for_with(
    std::string_view domain, const std::array<std::int64_t, 3>& position,
    const std::optional<ostrel_core::domain::DomainSky>& runtime) const {
  proto::server::SkyTable table;
  table.position = position;
  if (runtime) {
    table.day_length_ticks = day_length_ticks_;
    table.frames = runtime->keyframes;
    table.fog = runtime->cave_fog;
  } else if (const SkyWire* wire = wire_for(domain)) {
    table.day_length_ticks = day_length_ticks_;
    table.frames = wire->keyframes;
    table.fog = wire->cave_fog;
  } else {
    table.fog = kNoSkyFog;
  }
  return table;
}

}  // namespace ostrel_server::skies
