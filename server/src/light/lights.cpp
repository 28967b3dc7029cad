#include "light/lights.hpp"

#include "fluid/ponds.hpp"
#include "fluid/solid_chunks.hpp"

namespace ostrel_server::light {

Lighting& Lights::of(std::string_view domain) {
  auto it = domains_.find(domain);
  if (it == domains_.end()) it = domains_.emplace(std::string(domain), Lighting(tables_)).first;
  return it->second;
}

Lighting* Lights::find(std::string_view domain) {
  auto it = domains_.find(domain);
  return it == domains_.end() ? nullptr : &it->second;
}

const Lighting* Lights::find(std::string_view domain) const {
  auto it = domains_.find(domain);
  return it == domains_.end() ? nullptr : &it->second;
}

bool Lights::forget_domain(std::string_view domain) {
  auto it = domains_.find(domain);
  if (it == domains_.end()) return false;
  domains_.erase(it);
  return true;
}

std::map<std::string, Touched, std::less<>> relight(
    Lights& lights, const fluid::Ponds& ponds, std::span<const Edited> edits,
    const std::function<const Resident&(std::string_view domain)>& solid_of) {
  const Dry dry;
  std::map<std::string, Touched, std::less<>> out;
  for (const Edited& e : edits) {
    const fluid::Fluidics* wet = ponds.find(e.domain);
    const Glowing& side = wet ? static_cast<const Glowing&>(*wet) : dry;
    const Touched t = lights.of(e.domain).edited_with_fluid(e.pos, solid_of(e.domain), side);
    auto it = out.find(e.domain);
    if (it == out.end()) it = out.emplace(e.domain, Touched{}).first;
    it->second.insert(t.begin(), t.end());
  }
  return out;
}

std::map<std::string, Touched, std::less<>> relight(Lights& lights, const fluid::Ponds& ponds,
                                                    std::span<const Edited> edits, const world::World& world) {
  std::map<std::string, fluid::SolidChunks, std::less<>> views;
  return relight(lights, ponds, edits, [&](std::string_view domain) -> const Resident& {
    auto it = views.find(domain);
    if (it == views.end()) it = views.emplace(std::string(domain), fluid::SolidChunks(world, domain)).first;
    return it->second;
  });
}

std::uint16_t Shared::light_at(std::string_view domain, BlockPos pos) {
  auto lights = lights_->read();
  if (!lights) return 0;
  const Lighting* l = (*lights)->find(domain);
  return l ? l->at(pos) : 0;
}

}  // namespace ostrel_server::light
