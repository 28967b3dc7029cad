#include "hub/hub.hpp"
#include "presentation/sky.hpp"

namespace ostrel_server::transport::endpoint {

std::uint64_t Shared::sky_revision() {
  const auto* registry = domains_.get();
  if (registry == nullptr) return 0;
  auto g = (*registry)->read();
  return g ? (*g)->sky_revision() : 0;
}

bool Shared::has_runtime_sky(std::string_view domain) {
  const auto* registry = domains_.get();
  if (registry == nullptr) return false;
  auto g = (*registry)->read();
  return g && (*g)->sky_of(domain) != nullptr;
}

ostrel_core::proto::server::SkyTable Shared::sky_table_for(std::string_view domain) {
  const auto* registry = domains_.get();
  if (registry == nullptr) return skies_.table_for_with(domain, world_position_, std::nullopt);
  auto g = (*registry)->read();
  if (!g) return skies_.table_for_with(domain, world_position_, std::nullopt);
  const auto& r = **g;
  std::array<std::int64_t, 3> position = world_position_;
  if (auto p = r.position_of(domain)) position = {p->x, p->y, p->z};
  std::optional<ostrel_core::domain::DomainSky> runtime;
  if (const auto* sky = r.sky_of(domain)) runtime = *sky;
  return skies_.table_for_with(domain, position, runtime);
}

ostrel_core::proto::server::SkyTable Shared::login_sky() const {
  return skies_.table_for_with("overworld", world_position_, std::nullopt);
}

}  // namespace ostrel_server::transport::endpoint
