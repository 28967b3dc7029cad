#include "plans/shared.hpp"

#include <fmt/format.h>

#include "base/log.hpp"
#include "plans/capture.hpp"
#include "world/records.hpp"

namespace ostrel_server::plans {

namespace plan = ostrel_core::plan;

namespace {
constexpr std::string_view kTarget = "ostrel_server::plans";
}  // namespace

std::expected<plan::Plan, plan::PlanError> Shared::capture(std::string_view domain, BlockPos from,
                                                           BlockPos to) {
  auto g = world_->lock();
  if (!g || !(*g)->has_value()) return std::unexpected(plan::PlanError{.kind = plan::PlanErrorKind::NoWorld});
  return plans::capture(***g, *names_, domain, from, to);
}

bool Shared::save(std::string_view mod_id, std::string_view name, const plan::Plan& p) {
  auto g = world_->lock();
  if (!g || !(*g)->has_value()) return false;
  if (auto r = world::save_plan(***g, mod_id, name, p); !r) {
    OSTREL_ERROR(kTarget,
                 fmt::format("could not save plan `{}` for mod `{}`: {}", name, mod_id, r.error().message()));
    return false;
  }
  return true;
}

std::optional<plan::Plan> Shared::load(std::string_view mod_id, std::string_view name) {
  auto g = world_->lock();
  if (!g || !(*g)->has_value()) return std::nullopt;
  auto r = world::load_plan(***g, mod_id, name);
  return r ? std::move(*r) : std::nullopt;
}

std::vector<std::string> Shared::names(std::string_view mod_id) {
  auto g = world_->lock();
  if (!g || !(*g)->has_value()) return {};
  auto r = world::plan_names(***g, mod_id);
  return r ? std::move(*r) : std::vector<std::string>{};
}

bool Shared::forget(std::string_view mod_id, std::string_view name) {
  auto g = world_->lock();
  if (!g || !(*g)->has_value()) return false;
  auto r = world::delete_plan(***g, mod_id, name);
  return r && *r;
}

bool Shared::stamp(std::string_view domain, BlockPos at, plan::Plan p) {
  if (p.damage()) return false;  // its entries could not be placed
  return stamps_->enqueue(domain, at, PlanSource{std::move(p), {}});
}

bool Shared::stamp_schematic(std::string_view domain, std::array<std::int32_t, 3> root,
                             std::vector<StampBlock> entries) {
  return stamps_->enqueue(domain, BlockPos{root[0], root[1], root[2]}, std::move(entries));
}

}  // namespace ostrel_server::plans
