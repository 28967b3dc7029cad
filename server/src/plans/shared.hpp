#pragma once
// The plan access scripts reach: capture, the plan store and the stamp queue. Every store
// operation and a capture take the world slot's lock; an empty slot (the simulation thread has
// the world) or a poisoned lock is "no world".

#include <memory>

#include "building/plan.hpp"
#include "plans/names.hpp"
#include "plans/stamps.hpp"
#include "world/lease.hpp"

namespace ostrel_server::plans {

class Shared final : public ostrel_core::plan::Access {
 public:
  Shared(std::shared_ptr<lease::WorldSlot> world, std::shared_ptr<const Names> names,
         std::shared_ptr<Stamps> stamps)
      : world_(std::move(world)), names_(std::move(names)), stamps_(std::move(stamps)) {}

  std::expected<ostrel_core::plan::Plan, ostrel_core::plan::PlanError> capture(
      std::string_view domain, ostrel_core::coords::BlockPos from, ostrel_core::coords::BlockPos to) override;
  bool save(std::string_view mod_id, std::string_view name, const ostrel_core::plan::Plan& plan) override;
  std::optional<ostrel_core::plan::Plan> load(std::string_view mod_id, std::string_view name) override;
  std::vector<std::string> names(std::string_view mod_id) override;
  bool forget(std::string_view mod_id, std::string_view name) override;
  bool stamp(std::string_view domain, ostrel_core::coords::BlockPos at,
             ostrel_core::plan::Plan plan) override;
  bool stamp_schematic(std::string_view domain, std::array<std::int32_t, 3> root,
                       std::vector<StampBlock> entries) override;

 private:
  std::shared_ptr<lease::WorldSlot> world_;
  std::shared_ptr<const Names> names_;
  std::shared_ptr<Stamps> stamps_;
};

}  // namespace ostrel_server::plans
