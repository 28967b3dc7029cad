#include "world/domains.hpp"

#include <fmt/format.h>

#include "world/domain_store.hpp"
#include "base/log.hpp"
#include "world/world.hpp"

namespace ostrel_server::domains {

namespace log = ostrel_core::log;

std::optional<std::string> Shared::create(std::string_view template_id, std::string_view key) {
  return create_at(template_id, key, std::nullopt);
}

std::optional<std::string> Shared::create_at(std::string_view template_id, std::string_view key,
                                             std::optional<UniversalPos> position) {
  auto g = registry_->lock();
  if (!g) return std::nullopt;
  auto id = (*g)->create_at(template_id, key, position);
  if (!id) {
    OSTREL_WARN("ostrel_server::domains", "a mod could not make a domain",
                log::text("err", id.error().message()));
    return std::nullopt;
  }
  changed_.store(true);
  return std::move(*id);
}

std::optional<UniversalPos> Shared::position_of(std::string_view id) {
  auto g = registry_->lock();
  if (!g) return std::nullopt;
  return (*g)->position_of(id);
}

bool Shared::set_sky(std::string_view id, std::optional<DomainSky> sky) {
  auto g = registry_->lock();
  if (!g) return false;
  const bool live = (*g)->set_sky(id, std::move(sky));
  if (live) changed_.store(true);
  return live;
}

bool Shared::destroy(std::string_view id) {
  {
    auto g = registry_->lock();
    if (!g || !(*g)->is_instance(id)) return false;
  }  // the registry lock is released before the queue's is taken
  auto q = doomed_.lock();
  if (!q) return false;
  changed_.store(true);
  (*q)->emplace_back(id);
  return true;
}

bool Shared::exists(std::string_view id) {
  auto g = registry_->lock();
  if (!g) return false;
  return (*g)->spec(id).has_value() || (*g)->is_orphan(id);
}

std::vector<std::string> Shared::take_doomed() {
  auto q = doomed_.lock();
  if (!q) return {};
  return std::exchange(**q, {});
}

void Shared::destroy_doomed(world::World& world,
                            const std::function<std::uint64_t(std::string_view)>& occupants) {
  std::vector<std::string> retry;
  for (const std::string& id : take_doomed()) {
    {
      auto g = registry_->lock();
      if (!g) return;
      if (auto ok = (*g)->check_destroy(id, occupants(id)); !ok) {
        OSTREL_WARN("ostrel_server::domains", "a domain was not destroyed",
                    log::text("err", ok.error().message()));
        continue;
      }
    }
    if (auto removed = world.forget_domain(id); !removed) {
      OSTREL_ERROR(
          "ostrel_server::domains",
          fmt::format("could not delete a destroyed domain's rows: {}", ostrel_core::report(removed.error())),
          log::text("domain", id));
      retry.push_back(id);
      continue;
    }
    auto g = registry_->lock();
    if (!g) return;
    if ((*g)->destroy(id, 0)) changed_.store(true);
  }
  if (retry.empty()) return;
  if (auto q = doomed_.lock()) (*q)->insert((*q)->end(), retry.begin(), retry.end());
}

void Shared::store_if_changed(world::World& world) {
  if (!take_changed()) return;
  auto g = registry_->lock();
  if (!g) return;
  auto& db = world.db();
  auto result = ostrel_core::domain_store::set_domain_instances(db, (*g)->instances());
  if (result) result = ostrel_core::domain_store::set_domain_positions(db, (*g)->instance_positions());
  if (result) result = ostrel_core::domain_store::set_domain_skies(db, (*g)->sky_overrides());
  if (result) return;
  OSTREL_ERROR("ostrel_server::domains", fmt::format("could not write the world's domain instances: {}",
                                                     ostrel_core::report(result.error())));
  changed_.store(true);
}

}  // namespace ostrel_server::domains
